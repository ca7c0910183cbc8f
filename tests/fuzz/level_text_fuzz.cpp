// Level, transmit-buffer and Overspeed texts of the serial pages, for every UART type and kind.
#include <cstddef>
#include <cstdint>
#include <string>

#include "level_text.h"
#include "uart_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const UartDescriptor* uart = Descriptor(data[0] & 0x0F);
    const int kind = (data[0] >> 4) % kLevelKinds;
    const int position = ParseLevel(uart, kind, text.c_str());
    if (position > MaximumPosition(uart, kind)) __builtin_trap();
    char shown[32];
    if (position >= 0) FormatLevel(uart, kind, position, shown, sizeof shown);
    const int buffer = ParseTransmitBuffer(text.c_str());
    if (buffer >= 0) FormatTransmitBuffer(buffer, shown, sizeof shown);
    const int overspeed = ParseOverspeed(text.c_str());
    if (overspeed > kOverspeedMaximum) __builtin_trap();
    if (overspeed >= 0) FormatOverspeed(overspeed, shown, sizeof shown);
    return 0;
}
