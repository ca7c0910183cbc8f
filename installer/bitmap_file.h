// The check of a bitmap file before anything is drawn from it: every size and offset its headers
// claim must lie within the bytes really read. No Windows calls here.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the parts of a checked bitmap file lie.
struct BitmapLayout {
    std::size_t infoOffset;  // the information header, followed by masks and colour table
    std::size_t bitsOffset;  // the first pixel byte
    std::size_t pixelBytes;
    int32_t width;
    int32_t height;  // as stored: negative for a top-down picture
};

constexpr std::size_t kBitmapFileHeaderBytes = 14;
constexpr int32_t kMaxBitmapSide = 32768;

// True when the size bytes at data are a bitmap file that can be drawn from without reading
// outside them: "BM", a file size not above the bytes there, an information header of at least 40
// bytes, width 1..32768, height +-1..32768, one plane, 1/4/8/16/24/32 bits, uncompressed (or bit
// fields for 16 and 32 bits), at most 256 colours, and the colour table and pixel rows the headers
// imply between the headers and the end.
bool CheckBitmapFile(const uint8_t* data, std::size_t size, BitmapLayout& layout);
