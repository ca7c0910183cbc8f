// Texts of level fields and the shared position slots. No Windows calls here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "uart_table.h"

// Levels of kinds 0-7: no descriptor gives no text (false); a kind without parameter shows "?";
// otherwise the value of the position, or no text when the position has no value.
bool FormatLevel(const UartDescriptor* uart, int kind, int position, char* text, std::size_t chars);
// The number in the text (at most 19 characters) as the nearest position; -1 without parameter.
int ParseLevel(const UartDescriptor* uart, int kind, const char* text);

// Transmit buffer length: shown as position + 1; a typed number n gives position n - 1 (0 for 0).
bool FormatTransmitBuffer(int position, char* text, std::size_t chars);
int ParseTransmitBuffer(const char* text);

// Overspeed: a factor of (position + 1) / 8, from 0.125 (position 0) to 32.000 (255), stored as
// position + 1 in one byte (so 32.000 is stored as 0).
constexpr int kOverspeedMaximum = 255;
bool FormatOverspeed(int position, char* text, std::size_t chars);  // "%u.%03d"
// "a.b": a eighths times 8 plus b thousandths in eighths, minus 1; -1 outside 0-255.
int ParseOverspeed(const char* text);
int OverspeedPosition(uint8_t stored);
uint8_t OverspeedByte(int position);

// Level slots: positions shared by fields of several pages. Slots 0-7 take only their first seed
// after each UART type change (the mask remembers which were seeded); slots 8-15 take every one.
constexpr int kSlotCount = 16;
void SeedSlot(int32_t (&slots)[kSlotCount], uint8_t& mask, int slot, int position);
