#include "data/inventory.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <string>
#include <unordered_set>

#include "data/device_names.h"
#include "data/port_maps.h"
#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"
#include "text/bounded_text.h"

std::vector<CardEntry> CardList;
std::vector<PortEntry> PortList;
std::vector<OtherPortEntry> OtherPortList;

namespace {

constexpr char kUnknown[] = "???";
constexpr DWORD kActivePortFlags = 7;

template <std::size_t N>
void GetTextOr(const char* name, HKEY key, char (&text)[N], const char* fallback)
{
    if (!GetStringValue(name, key, text)) kt::CopyText(text, fallback);
}

template <std::size_t N>
WantedValue Text(const char* name, char (&text)[N])
{
    return {name, WantedValue::Text, text, N, false};
}

WantedValue Dword(const char* name, DWORD& value)
{
    return {name, WantedValue::Dword, &value, 0, false};
}

template <std::size_t N>
void FallBack(const WantedValue& wanted, char (&text)[N])
{
    if (!wanted.found) kt::CopyText(text, kUnknown);
}

// Reads one card key in one pass over its values; false when the key lacks a required value.
bool ReadCard(HKEY key, CardEntry& card)
{
    DWORD flags = 0, error = 0;
    WantedValue wanted[] = {Dword("Flags", flags), Dword("Error", error), Text("DeviceDesc", card.DeviceDesc),
                            Text("EnumPropPages", card.EnumPropPages)};
    ReadValues(key, wanted);
    if (!wanted[0].found) return false;
    card.present = flags & 1;
    card.enabled = (flags >> 1) & 1;
    card.error = wanted[1].found ? static_cast<uint16_t>(error & 0xFFFF) : 0;
    FallBack(wanted[2], card.DeviceDesc);
    return wanted[3].found;
}

bool ReadPort(HKEY key, PortEntry& port)
{
    DWORD flags = 0, error = 0;
    WantedValue wanted[] = {Dword("Flags", flags),
                            Dword("Error", error),
                            Text("DeviceDesc", port.DeviceDesc),
                            Text("EnumPropPages", port.EnumPropPages),
                            Text("DeviceName", port.DeviceName),
                            Text("DriverName", port.DriverName),
                            Text("PortName", port.PortName)};
    ReadValues(key, wanted);
    if (!wanted[0].found) return false;
    port.flags = static_cast<uint16_t>(flags & 0xFFFF);
    port.present = flags & 1;
    port.enabled = (flags >> 1) & 1;
    port.error = wanted[1].found ? static_cast<uint16_t>(error & 0xFFFF) : 0;
    FallBack(wanted[2], port.DeviceDesc);
    if (!wanted[3].found) return false;
    FallBack(wanted[4], port.DeviceName);
    if (!wanted[5].found) return false;
    FallBack(wanted[6], port.PortName);
    return true;
}

// Reads the ports of one card into PortList; 1 or a key problem.
int GetCardPorts(CardEntry& card)
{
    ScopedKey cardKey(HKEY_LOCAL_MACHINE, card.keyPath);
    if (!cardKey) return SetKeyProblem(kMachineRootName, card.keyPath, "GetPorts");
    int result = kResultOk;
    ForEachSubkey(cardKey.get(), [&](const char* name) {
        if (!IsPortKeyName(name)) return false;
        PortEntry port{};
        ScopedKey portKey = OpenJoinedKey(HKEY_LOCAL_MACHINE, port.keyPath, card.keyPath, name);
        if (!portKey) {
            result = SetKeyProblem(kMachineRootName, port.keyPath, "GetPorts");
            return true;
        }
        if (!ReadPort(portKey.get(), port)) return false;
        PortList.push_back(port);
        card.portIndexes.push_back(static_cast<int32_t>(PortList.size() - 1));
        return false;
    });
    return result;
}

// Port names of this system's active ports: Error 0 and Flags exactly 7. A device-map entry that
// names one of them is not an "other" port.
std::unordered_set<std::string> ActivePortNames()
{
    std::unordered_set<std::string> names;
    for (const PortEntry& port : PortList)
        if (port.error == 0 && port.flags == kActivePortFlags) names.insert(port.PortName);
    return names;
}

bool IsOtherPort(const char* data, const std::unordered_set<std::string>& activePorts)
{
    return activePorts.count(LastPathComponent(data)) == 0;
}

void ReadOtherPorts(const char* mapPath, const std::unordered_set<std::string>& activePorts)
{
    ScopedKey map(HKEY_LOCAL_MACHINE, mapPath);
    if (!map) return;
    ForEachValue(map.get(), 101, [&](const EnumeratedValue& value) {
        const char* data = reinterpret_cast<const char*>(value.data);
        if (!IsOtherPort(data, activePorts)) return false;
        OtherPortEntry entry{};
        char reread[kStringDataBytes + 1];
        if (!GetStringValue(value.name, map.get(), reread))
            kt::CopyText(entry.name, kUnknown);
        else if (std::strchr(reread, '\\'))
            kt::CopyText(entry.name, LastPathComponent(reread));
        else
            kt::CopyText(entry.name, data);
        OtherPortList.push_back(entry);
        return false;
    });
}

}  // namespace

void GetConfiguration()
{
    CardList.clear();
    PortList.clear();
    OtherPortList.clear();
    try {
        for (int (*step)() : {GetCards, GetPorts, GetOtherPorts, GetPortMaps}) {
            int result = step();
            if (result != kResultOk) ReportResult(result);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory while reading: a part of the inventory is no inventory, nothing of it
        // may be written back.
        CardList.clear();
        PortList.clear();
        OtherPortList.clear();
        ForgetPortMaps();
        ReportNoMemory();
    }
}

int GetCards()
{
    ScopedKey enumerator(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!enumerator) return SetKeyProblem(kMachineRootName, EnumeratorPath, "GetCards");
    int result = kResultOk;
    ForEachSubkey(enumerator.get(), [&](const char* name) {
        if (!IsCardKeyName(name)) return false;
        CardEntry card{};
        CardId id{};
        if (!ParseCardId(name, id)) {
            result = kResultUnparsableCard;
            return true;
        }
        card.bus = id.bus;
        card.device = id.device;
        card.function = id.function;
        card.vendor = id.vendor;
        card.deviceId = id.deviceId;
        ScopedKey cardKey = OpenJoinedKey(HKEY_LOCAL_MACHINE, card.keyPath, EnumeratorPath, name);
        if (!cardKey) {
            result = SetKeyProblem(kMachineRootName, card.keyPath, "GetCards");
            return true;
        }
        if (ReadCard(cardKey.get(), card)) CardList.push_back(std::move(card));
        return false;
    });
    return result;
}

int GetPorts()
{
    for (CardEntry& card : CardList) {
        int result = GetCardPorts(card);
        if (result != kResultOk) return result;
    }
    return kResultOk;
}

int GetOtherPorts()
{
    const std::unordered_set<std::string> activePorts = ActivePortNames();
    ReadOtherPorts(SerialMapPath, activePorts);
    ReadOtherPorts(ParallelMapPath, activePorts);
    return kResultOk;
}

int GetCardChanges(const char* path, int identifier)
{
    ScopedKey cardKey(HKEY_LOCAL_MACHINE, path);
    const std::size_t position = static_cast<std::size_t>(identifier - kCardItemBase);
    if (!cardKey || identifier < kCardItemBase || position >= CardList.size())
        return SetKeyProblem(kMachineRootName, path, "GetCardChanges");
    CardEntry& card = CardList[position];
    GetTextOr("DeviceDesc", cardKey.get(), card.DeviceDesc, kUnknown);
    for (int32_t index : card.portIndexes) {
        PortEntry& port = PortList[index];
        ScopedKey portKey(HKEY_LOCAL_MACHINE, port.keyPath);
        if (!portKey) return SetKeyProblem(kMachineRootName, port.keyPath, "GetCardChanges");
        GetTextOr("DeviceDesc", portKey.get(), port.DeviceDesc, kUnknown);
    }
    return kResultOk;
}
