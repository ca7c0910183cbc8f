// The UART table's conversions between stored levels and trackbar positions, and the slots.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "clock_options.h"
#include "level_text.h"
#include "uart_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 11) return 0;
    uint16_t word;
    int32_t value, position;
    std::memcpy(&word, data, 2);
    std::memcpy(&value, data + 3, 4);
    std::memcpy(&position, data + 7, 4);
    const UartDescriptor* uart = Descriptor(word);
    const int kind = data[2] % (kLevelKinds + 2) - 1;  // also kinds that do not exist
    const int found = PositionOf(uart, kind, value);
    if (found > MaximumPosition(uart, kind)) __builtin_trap();
    ValueOf(uart, kind, position);
    SlotOf(uart, kind);
    IsFixed(uart, kind);
    int32_t slots[kSlotCount] = {};
    uint8_t mask = data[2];
    SeedSlot(slots, mask, position, value);
    if (EncodeCks(DecodeCks(data[0])) != data[0]) __builtin_trap();
    return 0;
}
