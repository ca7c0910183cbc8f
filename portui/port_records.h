// Byte layouts of the serial port settings kept in the port's device key. All little-endian.
// No Windows calls here.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kFunctionalityBytes = 10;
constexpr std::size_t kPortInfoBytes = 30;
constexpr std::size_t kCompInfoBytes = 30;

uint16_t Get16(const uint8_t* bytes, std::size_t offset);
uint32_t Get32(const uint8_t* bytes, std::size_t offset);
void Put16(uint8_t* bytes, std::size_t offset, uint16_t value);
void Put32(uint8_t* bytes, std::size_t offset, uint32_t value);

// Functionality: version 1, maximum baud rate, highest UART type, capability flags.
namespace functionality {
constexpr std::size_t kVersion = 0, kMaxBaud = 2, kHighestUart = 6, kFlags = 8;
constexpr uint16_t kMemoryAccess = 0x1;  // capability: the port can use memory access
constexpr uint32_t kDefaultMaxBaud = 115200;
constexpr uint16_t kDefaultHighestUart = 3;

// Puts the defaults in when the value read (size bytes) is not exactly 10 bytes of version 1:
// maximum 115200, highest type 3, memory access not offered, other flags as read.
void Normalise(uint8_t (&image)[kFunctionalityBytes], std::size_t size);
// The highest UART type, with 0 taken as 3.
unsigned HighestUart(const uint8_t (&image)[kFunctionalityBytes]);
}  // namespace functionality

// PORTINFO: UART type and options, FIFO levels, automatic flow control.
namespace portinfo {
constexpr std::size_t kVersion = 0, kUartWord = 2, kReceiveTrigger = 6, kTransmitBuffer = 8,
                      kTransmitTrigger = 10, kFlowFlags = 12, kXonLevel = 14, kXoffLevel = 16,
                      kRtsOnLevel = 18, kRtsOffLevel = 20, kDtrOnLevel = 22, kDtrOffLevel = 24,
                      kTransmitXon = 26, kTransmitXoff = 27, kReceiveXon = 28, kReceiveXoff = 29;
constexpr uint16_t kMemoryAccessBit = 0x0800;  // in the UART word

// Replaces the record by the defaults of highestUart when its version is not 1 or its UART type
// is above highestUart.
void Normalise(uint8_t (&image)[kPortInfoBytes], unsigned highestUart);
}  // namespace portinfo
