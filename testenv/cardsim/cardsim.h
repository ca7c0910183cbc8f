// Card simulator: writes the registry tree that the bus enumerator and the installation would
// leave behind (card and port keys, the enumerator's values, DRIVERLIST, KNOWNERRORS, port maps)
// and the system's serial and parallel device maps. Used by tests, the benchmark and the demo.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace cardsim {

constexpr char kEnumeratorPath[] = "SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS";
constexpr char kProductKeyPath[] = "SOFTWARE\\Tervane\\Qarix";
constexpr char kSerialMapPath[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char kParallelMapPath[] = "HARDWARE\\DEVICEMAP\\PARALLEL PORTS";

// Flags bits of card and port keys.
constexpr DWORD kPresent = 0x1;
constexpr DWORD kEnabled = 0x2;
constexpr DWORD kEnumeratorBit = 0x4;
constexpr DWORD kActive = kPresent | kEnabled | kEnumeratorBit;

// Values of a card or port key; an empty optional is not written.
struct DeviceValues {
    std::optional<DWORD> flags;
    std::optional<DWORD> error;
    std::optional<std::string> deviceDesc;
    std::optional<std::string> enumPropPages;
    std::optional<std::string> deviceName;
    std::optional<std::string> driverName;
    std::optional<std::string> portName;
};

enum class PortKind { Serial, Parallel };

struct Port {
    std::string keyName;  // 4 characters for a port the tool lists
    PortKind kind = PortKind::Serial;
    DeviceValues values;
};

struct Card {
    std::string keyName;  // 44 characters: BUS_xxxx&DEV_xxxx&FUN_xxxx&VEN_xxxx&DID_xxxx
    DeviceValues values;
    std::vector<Port> ports;
};

using NamedText = std::pair<std::string, std::string>;  // value name, REG_SZ data

struct Installation {
    std::vector<NamedText> enumeratorTexts;  // Date, Provider, Version and the service names
    std::vector<NamedText> driverList;       // DRIVERLIST values
    std::vector<NamedText> knownErrors;      // KNOWNERRORS values
    std::optional<std::vector<uint8_t>> comPortMap, lptPortMap;
    std::vector<Card> cards;
    std::vector<NamedText> serialMap;    // device map entries: kernel device name, port name
    std::vector<NamedText> parallelMap;
    std::optional<std::string> installPath;  // product key InstallPath
};

// What a simulated installation holds. Card and port numbers count from 1.
struct Layout {
    int cards = 2;
    int serialPerCard = 4;
    int parallelPerCard = 1;
    bool builtinPorts = true;          // COM1, COM2 and LPT1 of the machine in the device maps
    std::set<int> absentCards;         // not present: the card and its ports lack bit 0
    std::set<int> disabledCards;       // bit 1 clear
    std::set<std::pair<int, int>> disabledPorts;             // (card, port)
    std::vector<std::pair<std::pair<int, int>, DWORD>> portErrors;  // (card, port), Error
    std::vector<std::pair<int, DWORD>> cardErrors;                  // card, Error
};

std::string CardKeyName(uint16_t bus, uint16_t device, uint16_t function, uint16_t vendor,
                        uint16_t deviceId);
std::string PortKeyName(int index);  // "0000", "0001", ...

// The service names written into the enumerator key.
constexpr char kEnumService[] = "ktcnt";
constexpr char kSerService[] = "ktsnt";
constexpr char kParService[] = "ktpptnt";
constexpr char kParMiniService[] = "ktpnt";

// A complete installation as the enumerator would leave it for layout. Active ports (present,
// enabled, no error) also appear in the device maps, numbered after the built-in ports.
Installation BuildInstallation(const Layout& layout);

// Replaces the enumerator's tree and both device maps with installation. Returns a Win32 error.
LONG Write(const Installation& installation);

// Deletes the enumerator's tree and empties both device maps.
LONG RemoveAll();

// Helpers for tests that shape odd trees by hand.
LONG DeleteTree(HKEY root, const char* path);
LONG WriteDevice(const std::string& keyPath, const DeviceValues& values);
LONG SetDword(HKEY root, const std::string& path, const char* name, DWORD value);
LONG SetText(HKEY root, const std::string& path, const char* name, const std::string& text);
LONG SetBinary(HKEY root, const std::string& path, const char* name, const std::vector<uint8_t>& data);
// Reading back: a DWORD value (fallback when missing), whether a key exists.
DWORD ReadDword(HKEY root, const std::string& path, const char* name, DWORD fallback = 0xDEADBEEF);
bool KeyExists(HKEY root, const std::string& path);
std::string CardPath(const Card& card);
std::string PortPath(const Card& card, const Port& port);

}  // namespace cardsim
