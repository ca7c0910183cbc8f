#include "uart_table.h"

namespace {

constexpr uint32_t Slot(int slot, bool fixed = false)
{
    return (static_cast<uint32_t>(slot) << 1) | (fixed ? kLevelFixed : 0);
}

// 16550 and 16850.
const uint16_t k16550Receive[] = {1, 4, 8, 14};
const LevelParameter k16550ReceiveTrigger = {Slot(0), 4, k16550Receive, 0};
const LevelParameter k16550TransmitBuffer = {Slot(1), 0, nullptr, 16};

// 16650: the flow-control thresholds follow the receive trigger level (slot 0).
const uint16_t k16650Trigger[] = {8, 16, 24, 28};
const uint16_t k16650On[] = {0, 8, 16, 24};
const uint16_t k16650Off[] = {16, 24, 28};
const LevelParameter k16650ReceiveTrigger = {Slot(0), 4, k16650Trigger, 0};
const LevelParameter k16650TransmitTrigger = {Slot(1), 4, k16650Trigger, 0};
const LevelParameter k16650OnLevel = {Slot(0, true), 4, k16650On, 0};
const LevelParameter k16650OffLevel = {Slot(0, true), 3, k16650Off, 0};
const LevelParameter k16650TransmitBuffer = {Slot(2), 0, nullptr, 32};

// 16750: "RTS off" follows the receive trigger level.
const uint16_t k16750Receive[] = {1, 16, 32, 56};
const LevelParameter k16750ReceiveTrigger = {Slot(0), 4, k16750Receive, 0};
const LevelParameter k16750RtsOff = {Slot(0, true), 4, k16750Receive, 0};
const LevelParameter k16750TransmitBuffer = {Slot(1), 0, nullptr, 64};

// 16950: the three "on" levels are one setting (slot 2), the three "off" levels another (slot 3).
const LevelParameter k16950ReceiveTrigger = {Slot(0), 0, nullptr, 128};
const LevelParameter k16950TransmitTrigger = {Slot(1), 0, nullptr, 128};
const LevelParameter k16950OnLevel = {Slot(2), 0, nullptr, 128};
const LevelParameter k16950OffLevel = {Slot(3), 0, nullptr, 128};
const LevelParameter k16950TransmitBuffer = {Slot(4), 0, nullptr, 128};

const UartDescriptor kUarts[kUartTypes] = {
    {"UART ?????", 0x00, 0, 0, 1, 0, 1, 0, {}},
    {"UART 8250", 0x00, 0, 0, 1, 0, 1, 0, {}},
    {"UART 16450", 0x00, 0, 0, 1, 0, 1, 0, {}},
    {"UART 16550", 0x00, 0, 16, 0, 8, 16, 0,
     {&k16550ReceiveTrigger, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &k16550TransmitBuffer}},
    {"UART 16650", 0x66, 0, 32, 1, 16, 32, 0,
     {&k16650ReceiveTrigger, &k16650TransmitTrigger, &k16650OnLevel, &k16650OffLevel, &k16650OnLevel,
      &k16650OffLevel, nullptr, nullptr, &k16650TransmitBuffer}},
    {"UART 16750", 0x06, 0, 64, 0, 32, 64, 0,
     {&k16750ReceiveTrigger, nullptr, nullptr, nullptr, nullptr, &k16750RtsOff, nullptr, nullptr,
      &k16750TransmitBuffer}},
    {"UART 16850", 0x00, 0, 16, 0, 8, 16, 0,
     {&k16550ReceiveTrigger, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &k16550TransmitBuffer}},
    {"UART 16950", 0x7f, 0, 128, 1, 80, 128, 0,
     {&k16950ReceiveTrigger, &k16950TransmitTrigger, &k16950OnLevel, &k16950OffLevel, &k16950OnLevel,
      &k16950OffLevel, &k16950OnLevel, &k16950OffLevel, &k16950TransmitBuffer}},
};

const LevelParameter* ParameterOf(const UartDescriptor* descriptor, int kind)
{
    return descriptor && kind >= 0 && kind < kLevelKinds ? descriptor->levels[kind] : nullptr;
}

}  // namespace

const UartDescriptor* Descriptor(unsigned uartWord)
{
    const unsigned type = uartWord & 0xFF;
    return type < kUartTypes ? &kUarts[type] : nullptr;
}

bool HasCapability(const UartDescriptor* descriptor, uint8_t pair)
{
    return descriptor && (descriptor->capabilities & pair) != 0;
}

int SlotOf(const UartDescriptor* descriptor, int kind)
{
    const LevelParameter* parameter = ParameterOf(descriptor, kind);
    return parameter ? static_cast<int>((parameter->flags >> 1) & 0xF) : -1;
}

bool IsFixed(const UartDescriptor* descriptor, int kind)
{
    const LevelParameter* parameter = ParameterOf(descriptor, kind);
    return !parameter || (parameter->flags & kLevelFixed);
}

int MaximumPosition(const UartDescriptor* descriptor, int kind)
{
    const LevelParameter* parameter = ParameterOf(descriptor, kind);
    if (!parameter) return 0;
    return static_cast<int>(parameter->count ? parameter->count - 1 : parameter->maximum);
}

int ValueOf(const UartDescriptor* descriptor, int kind, int position)
{
    const LevelParameter* parameter = ParameterOf(descriptor, kind);
    if (!parameter) return -1;
    if (parameter->count == 0) return static_cast<uint16_t>(position);
    if (position >= 0 && static_cast<uint32_t>(position) < parameter->count) return parameter->values[position];
    return -1;
}

int PositionOf(const UartDescriptor* descriptor, int kind, int value)
{
    const LevelParameter* parameter = ParameterOf(descriptor, kind);
    if (!parameter) return -1;
    if (parameter->count == 0) {
        const uint32_t position = static_cast<uint16_t>(value);
        return static_cast<int>(position < parameter->maximum ? position : parameter->maximum);
    }
    const uint16_t* v = parameter->values;
    const int count = static_cast<int>(parameter->count);
    if (value <= v[0]) return 0;
    for (int i = 1; i < count; ++i)
        if (v[i - 1] <= value && value < v[i]) return v[i] - value >= value - v[i - 1] ? i - 1 : i;
    return count - 1;
}
