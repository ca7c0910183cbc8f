#!/usr/bin/env python3
"""Draws the pictures of ktcfg.cpl, KTS2KUI.dll and install.exe as pixel art and writes them as
Windows resources and files: config/res/tree.bmp (bitmap 109: eight 16x16 tree images in a row,
pure green = transparent), the icons config/res/tool.ico (111), card.ico (119), port.ico (120),
portui/res/port.ico (101) and installer/res/install.ico (103), each icon with 16x16 and 32x32
images, and the installer's pictures installer/res/ktlogo.bmp and kttext.bmp (24-bit) with their
16-colour variants ktlogo16.bmp and kttext16.bmp.
Run it from anywhere. --preview also writes config/res/preview.png (8x), not to be committed."""

import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HERE = os.path.join(ROOT, 'config', 'res')
PROVIDER = os.path.join(ROOT, 'portui', 'res')
INSTALLER = os.path.join(ROOT, 'installer', 'res')

# 5x7 letters for the banner.
FONT = {
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'I': ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'Q': ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'X': ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    '/': ["00001", "00010", "00010", "00100", "01000", "01000", "10000"],
    '-': ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    ' ': ["00000"] * 7,
}

# The 16 colours of a standard VGA palette, for the 16-colour variants.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
TRANSPARENT = (0, 255, 0)

PALETTE = {
    '.': None,
    'K': (0, 0, 0),          # outline
    'G': (0, 128, 64),       # board
    'g': (96, 176, 112),     # board traces
    'C': (40, 40, 48),       # chip
    'c': (120, 120, 128),    # chip pins
    'Y': (232, 184, 40),     # gold contacts
    'S': (200, 200, 200),    # metal
    's': (128, 128, 128),    # metal shade
    'W': (255, 255, 255),
    'D': (64, 64, 64),       # connector inside
}

CARD = """
................
................
S...............
SS.KKKKKKKKKKKK.
Ss.KGGGGGGGGGGK.
Ss.KGCCCCGgGGGK.
SsKKGCCCCGgGCGK.
Ss.KGCCCCGgGCGK.
Ss.KGcccGGgGGGK.
Ss.KGgggggggGGK.
Ss.KGGGGGGGGGGK.
Ss.KKYKYKYKYKKK.
S...KYKYKYKYK...
S...............
................
................
"""

PORT = """
................
................
................
K.KKKKKKKKKKKK.K
KSKSSSSSSSSSSKSK
KsKSKKKKKKKKSKsK
K.KSKYDYDYDYKSK.
...KSKDDDDDKSK..
...KSKYDYDYKSK..
....KSKKKKKSK...
....KSSSSSSSK...
.....KKKKKKK....
................
................
................
................
"""

CROSS = """
.........RR...RR
.........RRR.RRR
..........RRRRR.
...........RRR..
..........RRRRR.
.........RRR.RRR
.........RR...RR
"""

BANG = """
............K...
...........KYK..
...........KYK..
..........KYKYK.
..........KYKYK.
.........KYYYYYK
.........KKKKKKK
"""

OVERLAY_COLOURS = {'R': (224, 0, 0), 'K': (0, 0, 0), 'Y': (255, 224, 0)}

# Absent devices: the same pictures in reds.
RED = {'G': (192, 48, 48), 'g': (232, 128, 128), 'C': (96, 16, 16), 'c': (160, 64, 64),
       'Y': (240, 120, 120), 'S': (232, 120, 120), 's': (176, 48, 48), 'D': (112, 24, 24)}


def parse(art, palette):
    rows = [r for r in art.strip('\n').split('\n')]
    return [[palette.get(ch) if ch in palette else None for ch in row] for row in rows]


def picture(art, recolour=None):
    palette = dict(PALETTE)
    if recolour:
        palette.update(recolour)
    return parse(art, palette)


def overlay(base, art):
    """Puts a 16-wide overlay on the bottom rows of base."""
    rows = parse(art, OVERLAY_COLOURS)
    out = [row[:] for row in base]
    top = 16 - len(rows)
    for y, row in enumerate(rows):
        for x, colour in enumerate(row):
            if colour is not None:
                out[top + y][x] = colour
    return out


def tree_images():
    card, port = picture(CARD), picture(PORT)
    return [card, overlay(card, CROSS), overlay(card, BANG), picture(CARD, RED),
            port, overlay(port, CROSS), overlay(port, BANG), picture(PORT, RED)]


def scaled(image, factor):
    return [[px for px in row for _ in range(factor)] for row in image for _ in range(factor)]


MINI_PORT = """
KKKKKKKKK
KSSSSSSSK
KSKYKYKSK
.KSKYKSK.
..KSSSK..
...KKK...
"""


def combined_tool_icon():
    """The tool: a card, raised a little, with a small connector in front of it."""
    card, port = picture(CARD), picture(MINI_PORT)
    out = [[None] * 16 for _ in range(16)]
    for y in range(2, 16):
        out[y - 2] = card[y][:]
    for y, row in enumerate(port):
        for x, px in enumerate(row):
            if px is not None:
                out[10 + y][7 + x] = px
    return out


def bmp_bytes(images):
    width, height = 16 * len(images), 16
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        for image in images:
            for px in image[y]:
                r, g, b = px if px is not None else TRANSPARENT
                row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        pixels += row
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def icon_image(image):
    size = len(image)
    xor = bytearray()
    and_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        row_mask = bytearray()
        for x, px in enumerate(image[y]):
            if px is None:
                xor += b'\0\0\0\0'
                bits |= 1 << (7 - x % 8)
            else:
                r, g, b = px
                xor += bytes((b, g, r, 255))
            if x % 8 == 7:
                row_mask.append(bits)
                bits = 0
        row_mask += b'\0' * (and_stride - len(row_mask))
        mask += row_mask
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def ico_bytes(image16):
    images = [image16, scaled(image16, 2)]
    blobs = [icon_image(im) for im in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for im, blob in zip(images, blobs):
        size = len(im)
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


def png_bytes(image, factor, background=(192, 192, 192)):
    big = scaled(image, factor)
    raw = b''.join(b'\0' + b''.join(bytes(px if px is not None else background) for px in row) for row in big)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    w, h = len(big[0]), len(big)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def paste(target, image, left, top, factor=1):
    for y, row in enumerate(scaled(image, factor) if factor > 1 else image):
        for x, px in enumerate(row):
            if px is not None and 0 <= top + y < len(target) and 0 <= left + x < len(target[0]):
                target[top + y][left + x] = px


def write_text(target, text, left, top, factor, colour):
    for i, ch in enumerate(text):
        glyph = FONT[ch]
        for y, row in enumerate(glyph):
            for x, bit in enumerate(row):
                if bit == '1':
                    for dy in range(factor):
                        for dx in range(factor):
                            target[top + y * factor + dy][left + (i * 6 + x) * factor + dx] = colour


def installer_logo():
    """A large card with a connector beside it, on the window's light background."""
    image = canvas(240, 120, (212, 208, 200))
    paste(image, picture(CARD), 8, 12, 6)
    paste(image, picture(PORT), 136, 24, 6)
    return image


def installer_banner():
    """The package's name in light letters on a dark blue band."""
    image = canvas(640, 60, (16, 40, 96))
    for y in range(52, 60):
        for x in range(640):
            image[y][x] = (200, 160, 32)
    paste(image, picture(CARD), 12, 4, 3)
    write_text(image, 'QARIX PCI SERIAL / PARALLEL', 80, 16, 3, (240, 240, 240))
    return image


def bmp24(image):
    height, width = len(image), len(image[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(image):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + b'\0' * (stride - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def bmp4(image):
    def nearest(colour):
        return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA[i], colour)))
    height, width = len(image), len(image[0])
    stride = ((width + 1) // 2 + 3) & ~3
    pixels = bytearray()
    for row in reversed(image):
        indexes = [nearest(px) for px in row] + [0]
        line = bytearray((indexes[i] << 4) | indexes[i + 1] for i in range(0, width, 2))
        pixels += line + b'\0' * (stride - len(line))
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in VGA)
    offset = 54 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    return header + info + palette + pixels


def write_installer_pictures():
    os.makedirs(INSTALLER, exist_ok=True)
    logo, banner = installer_logo(), installer_banner()
    for name, data in (('ktlogo.bmp', bmp24(logo)), ('kttext.bmp', bmp24(banner)),
                       ('ktlogo16.bmp', bmp4(logo)), ('kttext16.bmp', bmp4(banner))):
        with open(os.path.join(INSTALLER, name), 'wb') as f:
            f.write(data)
    with open(os.path.join(INSTALLER, 'install.ico'), 'wb') as f:
        f.write(ico_bytes(combined_tool_icon()))


def main():
    images = tree_images()
    with open(os.path.join(HERE, 'tree.bmp'), 'wb') as f:
        f.write(bmp_bytes(images))
    icons = {'tool.ico': combined_tool_icon(), 'card.ico': picture(CARD), 'port.ico': picture(PORT)}
    for name, image in icons.items():
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(ico_bytes(image))
    os.makedirs(PROVIDER, exist_ok=True)
    with open(os.path.join(PROVIDER, 'port.ico'), 'wb') as f:
        f.write(ico_bytes(picture(PORT)))
    write_installer_pictures()
    if '--preview' in sys.argv:
        strip = [[px for image in images + list(icons.values()) for px in image[y] + [None]] for y in range(16)]
        with open(os.path.join(HERE, 'preview.png'), 'wb') as f:
            f.write(png_bytes(strip, 8))


if __name__ == '__main__':
    main()
