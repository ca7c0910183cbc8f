// The tool's in-memory inventory of cards, their ports and the machine's other ports, read from
// the bus enumerator's tree and the system's device maps.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kPathChars = 260;  // key paths
constexpr int kTextChars = 100;  // registry texts of cards and ports

struct CardEntry {
    int32_t present;   // bit 0 of Flags
    int32_t enabled;   // bit 1 of Flags; flipped by the user interface
    uint16_t error;    // low 16 bits of Error, 0 when missing
    int32_t modified;  // Flags must be rewritten from enabled
    int32_t remove;    // the key is to be deleted
    int32_t deleted;   // the key has been deleted: nothing is left to write
    uint16_t bus, device, function, vendor, deviceId;
    std::vector<int32_t> portIndexes;  // positions in PortList, in reading order
    char keyPath[kPathChars];
    char DeviceDesc[kTextChars];
    char EnumPropPages[kTextChars];
};

struct PortEntry {
    int32_t present;
    int32_t enabled;
    uint16_t error;
    uint16_t flags;  // low 16 bits of the stored Flags
    int32_t modified;
    int32_t remove;
    int32_t deleted;  // the key has been deleted: nothing is left to write
    char keyPath[kPathChars];
    char DeviceDesc[kTextChars];
    char EnumPropPages[kTextChars];
    char DeviceName[kTextChars];
    char DriverName[kTextChars];
    char PortName[kTextChars];
};

struct OtherPortEntry {
    char name[kTextChars];
};

extern std::vector<CardEntry> CardList;
extern std::vector<PortEntry> PortList;
extern std::vector<OtherPortEntry> OtherPortList;

// Tree item codes of the user interface name a card by 100 + its position in CardList.
constexpr int kCardItemBase = 100;
constexpr int kPortItemBase = 1000;

// Empties the three lists and reads cards, ports, other ports and port maps, reporting each
// failing step and going on with the next.
void GetConfiguration();

int GetCards();       // 1, -1, or 5 when a card key name cannot be parsed
int GetPorts();       // 1, -1
int GetOtherPorts();  // 1

// Re-reads the DeviceDesc of the card (identifier = 100 + position) and of its ports.
int GetCardChanges(const char* path, int identifier);
