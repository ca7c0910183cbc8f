// Reserved COM and LPT numbers: two 256-bit maps, one bit per port number 1..256 (number n is bit
// (n - 1) % 8 of byte (n - 1) / 8), stored whole as COMPortMap and LPTPortMap in the enumerator key.
#pragma once

#include <cstdint>

constexpr int kPortMapBytes = 32;
constexpr int kMaxPortNumber = 256;

// The tool's copies of the two maps; all zero until GetPortMaps reads them.
extern uint8_t ComPortMap[kPortMapBytes];
extern uint8_t LptPortMap[kPortMapBytes];

// 1 when number is reserved; 0 when free or outside 1..256.
int IsPortReserved(const uint8_t* map, int number);
// Set or clear the bit of number; numbers outside 1..256 change nothing.
void ReservePort(uint8_t* map, int number);
void ReleasePort(uint8_t* map, int number);

// Reads both maps from the enumerator key. A missing map is only warned about and leaves the
// in-memory copy as it was. 1, or -1 when the enumerator key cannot be opened.
int GetPortMaps();
// Marks both maps as unread: SavePortMaps will not write them until GetPortMaps has read them.
void ForgetPortMaps();

// Writes both maps whole into the enumerator key, with full access to its subtree granted for the
// write. 1, -1 (no rights, or the key cannot be opened), -2 (a write failed, or nothing was
// written because a map could not be read).
int SavePortMaps();
