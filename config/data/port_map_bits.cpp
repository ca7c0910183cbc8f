#include "data/port_maps.h"

uint8_t ComPortMap[kPortMapBytes];
uint8_t LptPortMap[kPortMapBytes];

namespace {

bool InRange(int number)
{
    return number >= 1 && number <= kMaxPortNumber;
}

uint8_t MaskOf(int number)
{
    return static_cast<uint8_t>(1u << ((number - 1) % 8));
}

}  // namespace

int IsPortReserved(const uint8_t* map, int number)
{
    return InRange(number) && (map[(number - 1) / 8] & MaskOf(number)) ? 1 : 0;
}

void ReservePort(uint8_t* map, int number)
{
    if (InRange(number)) map[(number - 1) / 8] |= MaskOf(number);
}

void ReleasePort(uint8_t* map, int number)
{
    if (InRange(number)) map[(number - 1) / 8] &= static_cast<uint8_t>(~MaskOf(number));
}
