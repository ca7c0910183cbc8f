#include "bitmap_file.h"

namespace {

constexpr std::size_t kInfoHeaderBytes = 40;
constexpr uint32_t kRgb = 0, kBitFields = 3;

uint32_t Read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

bool KnownBitCount(uint16_t bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

bool CheckBitmapFile(const uint8_t* data, std::size_t size, BitmapLayout& layout)
{
    if (!data || size < kBitmapFileHeaderBytes + kInfoHeaderBytes) return false;
    if (data[0] != 'B' || data[1] != 'M') return false;
    const uint64_t fileSize = Read32(data + 2);
    const uint64_t bitsOffset = Read32(data + 10);
    if (fileSize > size || fileSize < kBitmapFileHeaderBytes + kInfoHeaderBytes) return false;

    const uint8_t* info = data + kBitmapFileHeaderBytes;
    const uint64_t infoBytes = Read32(info);
    if (infoBytes < kInfoHeaderBytes || kBitmapFileHeaderBytes + infoBytes > fileSize) return false;
    const auto width = static_cast<int32_t>(Read32(info + 4));
    const auto height = static_cast<int32_t>(Read32(info + 8));
    const uint16_t planes = Read16(info + 12), bits = Read16(info + 14);
    const uint32_t compression = Read32(info + 16);
    const uint32_t coloursUsed = Read32(info + 32);
    if (width < 1 || width > kMaxBitmapSide || height == 0 || height < -kMaxBitmapSide || height > kMaxBitmapSide)
        return false;
    if (planes != 1 || !KnownBitCount(bits)) return false;
    if (compression != kRgb && !(compression == kBitFields && (bits == 16 || bits == 32))) return false;

    const uint64_t paletteLimit = bits <= 8 ? (1u << bits) : 256;
    if (coloursUsed > paletteLimit) return false;
    const uint64_t colours = coloursUsed ? coloursUsed : (bits <= 8 ? paletteLimit : 0);
    const uint64_t masks = compression == kBitFields && infoBytes == kInfoHeaderBytes ? 12 : 0;
    const uint64_t headersEnd = kBitmapFileHeaderBytes + infoBytes + masks + colours * 4;
    if (bitsOffset < headersEnd || bitsOffset > fileSize) return false;

    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    const uint64_t pixelBytes = stride * rows;
    if (pixelBytes > fileSize - bitsOffset) return false;

    layout.infoOffset = kBitmapFileHeaderBytes;
    layout.bitsOffset = static_cast<std::size_t>(bitsOffset);
    layout.pixelBytes = static_cast<std::size_t>(pixelBytes);
    layout.width = width;
    layout.height = height;
    return true;
}
