// The installer's bitmap file check: whatever it accepts must lie within the bytes given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitmap_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> file(data, data + size);  // exactly size bytes, for the sanitizer
    BitmapLayout layout = {};
    if (!CheckBitmapFile(file.data(), file.size(), layout)) return 0;
    // Touch everything a drawing call would read.
    volatile uint8_t sink = 0;
    for (size_t i = layout.infoOffset; i < layout.bitsOffset; ++i) sink ^= file[i];
    if (layout.pixelBytes) {
        sink ^= file[layout.bitsOffset];
        sink ^= file[layout.bitsOffset + layout.pixelBytes - 1];
    }
    if (layout.width < 1 || layout.height == 0) __builtin_trap();
    return 0;
}
