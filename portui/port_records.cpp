#include "port_records.h"

#include <cstring>

#include "uart_table.h"

uint16_t Get16(const uint8_t* bytes, std::size_t offset)
{
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t Get32(const uint8_t* bytes, std::size_t offset)
{
    return static_cast<uint32_t>(Get16(bytes, offset)) | (static_cast<uint32_t>(Get16(bytes, offset + 2)) << 16);
}

void Put16(uint8_t* bytes, std::size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* bytes, std::size_t offset, uint32_t value)
{
    Put16(bytes, offset, static_cast<uint16_t>(value));
    Put16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

namespace functionality {

void Normalise(uint8_t (&image)[kFunctionalityBytes], std::size_t size)
{
    if (size == kFunctionalityBytes && Get16(image, kVersion) == 1) return;
    Put32(image, kMaxBaud, kDefaultMaxBaud);
    Put16(image, kHighestUart, kDefaultHighestUart);
    Put16(image, kFlags, static_cast<uint16_t>(Get16(image, kFlags) & ~kMemoryAccess));
}

unsigned HighestUart(const uint8_t (&image)[kFunctionalityBytes])
{
    const unsigned highest = Get16(image, kHighestUart);
    return highest ? highest : kDefaultHighestUart;
}

}  // namespace functionality

namespace portinfo {

void Normalise(uint8_t (&image)[kPortInfoBytes], unsigned highestUart)
{
    if (Get16(image, kVersion) == 1 && image[kUartWord] <= highestUart) return;
    std::memset(image, 0, sizeof image);
    Put16(image, kUartWord, static_cast<uint16_t>(highestUart));
    if (const UartDescriptor* uart = Descriptor(highestUart)) {
        Put16(image, kReceiveTrigger, uart->defaultReceiveTrigger);
        Put16(image, kTransmitBuffer, uart->defaultTransmitBuffer);
        Put16(image, kTransmitTrigger, uart->defaultTransmitTrigger);
    }
}

}  // namespace portinfo
