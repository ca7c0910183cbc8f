#include "level_text.h"

#include <cstring>

#include "number_text.h"
#include "runtime/format.h"

namespace {

constexpr std::size_t kNumberChars = 19;

}  // namespace

bool FormatLevel(const UartDescriptor* uart, int kind, int position, char* text, std::size_t chars)
{
    if (!uart) return false;
    if (SlotOf(uart, kind) < 0) {
        kt::Format(text, chars, "?");
        return true;
    }
    const int value = ValueOf(uart, kind, position);
    if (value < 0) return false;
    kt::Format(text, chars, "%d", value);
    return true;
}

int ParseLevel(const UartDescriptor* uart, int kind, const char* text)
{
    return PositionOf(uart, kind, LeadingDecimal(text, kNumberChars));
}

bool FormatTransmitBuffer(int position, char* text, std::size_t chars)
{
    kt::Format(text, chars, "%d", position + 1);
    return true;
}

int ParseTransmitBuffer(const char* text)
{
    const int32_t length = LeadingDecimal(text, kNumberChars);
    if (length < 0) return -1;  // also keeps the most negative number from overflowing below
    return length == 0 ? 0 : length - 1;
}

bool FormatOverspeed(int position, char* text, std::size_t chars)
{
    const unsigned eighths = static_cast<unsigned>(position) + 1;
    kt::Format(text, chars, "%u.%03d", eighths / 8, static_cast<int>(eighths % 8) * 125);
    return true;
}

int ParseOverspeed(const char* text)
{
    const char* point = std::strchr(text, '.');
    const int64_t whole = LeadingDecimal(text, kNumberChars);
    const int64_t thousandths = point ? LeadingDecimal(point + 1, kNumberChars) : 0;
    const int64_t position = whole * 8 + thousandths / 125 - 1;
    return position < 0 || position > kOverspeedMaximum ? -1 : static_cast<int>(position);
}

int OverspeedPosition(uint8_t stored)
{
    return stored == 0 ? kOverspeedMaximum : stored - 1;
}

uint8_t OverspeedByte(int position)
{
    return static_cast<uint8_t>(position + 1);
}

void SeedSlot(int32_t (&slots)[kSlotCount], uint8_t& mask, int slot, int position)
{
    if (slot < 0 || slot >= kSlotCount) return;
    if (slot < 8) {
        const uint8_t bit = static_cast<uint8_t>(1u << slot);
        if (mask & bit) return;
        mask |= bit;
    }
    slots[slot] = position;
}
