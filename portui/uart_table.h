// The UART chips the cards can carry: names, automatic flow-control capabilities, FIFO sizes,
// the defaults of a fresh PORTINFO record, and per adjustable level either the short list of
// values the chip allows or a plain maximum. Levels are edited as trackbar positions. No Windows
// calls here.
#pragma once

#include <cstdint>

// Level kinds: which hardware level a field edits.
enum LevelKind : int {
    kReceiveTrigger = 0,
    kTransmitTrigger = 1,
    kXonLevel = 2,
    kXoffLevel = 3,
    kRtsOnLevel = 4,
    kRtsOffLevel = 5,
    kDtrOnLevel = 6,
    kDtrOffLevel = 7,
    kTransmitBuffer = 8,
    kLevelKinds = 9,
};

struct LevelParameter {
    uint32_t flags;  // bit 0 fixed (follows its slot); bits 1-4 slot number
    uint32_t count;  // number of allowed values; 0 = every value from 0 to the maximum
    const uint16_t* values;
    uint32_t maximum;
};

constexpr uint32_t kLevelFixed = 0x1;

struct UartDescriptor {
    const char* name;
    uint8_t capabilities;  // bits 1-2 auto RTS/CTS, 3-4 auto DTR/DSR, 5-6 auto Xon/Xoff
    uint8_t reserved;
    uint16_t fifoSize;
    uint16_t defaultTransmitTrigger;
    uint16_t defaultReceiveTrigger;
    uint16_t defaultTransmitBuffer;
    uint16_t reservedWord;
    const LevelParameter* levels[kLevelKinds];
};

constexpr int kUartTypes = 8;
constexpr uint8_t kAutoRtsCts = 0x06;
constexpr uint8_t kAutoDtrDsr = 0x18;
constexpr uint8_t kAutoXonXoff = 0x60;

// The descriptor of a stored UART word (only its low 8 bits count); nullptr for types 8 and up.
const UartDescriptor* Descriptor(unsigned uartWord);

bool HasCapability(const UartDescriptor* descriptor, uint8_t pair);
int SlotOf(const UartDescriptor* descriptor, int kind);         // -1 without parameter
bool IsFixed(const UartDescriptor* descriptor, int kind);       // also true without parameter
int MaximumPosition(const UartDescriptor* descriptor, int kind);  // 0 without parameter
int ValueOf(const UartDescriptor* descriptor, int kind, int position);  // -1 when none
int PositionOf(const UartDescriptor* descriptor, int kind, int value);  // -1 without parameter
