#include "cardsim.h"

#include "key_security.h"

#include <algorithm>
#include <cstdio>

namespace cardsim {
namespace {

constexpr uint16_t kVendor = 0x5154;

class Key {
public:
    Key(HKEY root, const std::string& path, LONG& rc)
    {
        rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        if (rc != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() { if (key_) RegCloseKey(key_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

LONG SetValue(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
              DWORD size)
{
    LONG rc;
    Key key(root, path, rc);
    if (rc != ERROR_SUCCESS) return rc;
    return RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG WriteTexts(const std::string& path, const std::vector<NamedText>& texts)
{
    LONG rc;
    Key key(HKEY_LOCAL_MACHINE, path, rc);
    for (const NamedText& text : texts) {
        if (rc != ERROR_SUCCESS) break;
        rc = RegSetValueExA(key.get(), text.first.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.second.c_str()),
                            static_cast<DWORD>(text.second.size() + 1));
    }
    return rc;
}

// Empties a device map (the system's maps are volatile keys; values only).
LONG ReplaceValues(const char* path, const std::vector<NamedText>& texts)
{
    LONG rc;
    {
        Key key(HKEY_LOCAL_MACHINE, path, rc);
        if (rc != ERROR_SUCCESS) return rc;
        char name[16384];
        for (;;) {
            DWORD chars = sizeof name;
            if (RegEnumValueA(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            if ((rc = RegDeleteValueA(key.get(), name)) != ERROR_SUCCESS) return rc;
        }
    }
    return WriteTexts(path, texts);
}

std::vector<uint8_t> MapOf(std::initializer_list<int> reserved)
{
    std::vector<uint8_t> map(32);
    for (int n : reserved) map[(n - 1) / 8] |= static_cast<uint8_t>(1 << ((n - 1) % 8));
    return map;
}

template <class Set, class K>
bool Has(const Set& set, const K& key)
{
    return set.find(key) != set.end();
}

template <class List, class K>
std::optional<DWORD> Lookup(const List& list, const K& key)
{
    for (const auto& item : list)
        if (item.first == key) return item.second;
    return std::nullopt;
}

}  // namespace

std::string CardKeyName(uint16_t bus, uint16_t device, uint16_t function, uint16_t vendor,
                        uint16_t deviceId)
{
    char name[64];
    std::snprintf(name, sizeof name, "BUS_%04X&DEV_%04X&FUN_%04X&VEN_%04X&DID_%04X", bus, device,
                  function, vendor, deviceId);
    return name;
}

std::string PortKeyName(int index)
{
    char name[16];
    std::snprintf(name, sizeof name, "%04d", index);
    return name;
}

Installation BuildInstallation(const Layout& layout)
{
    Installation inst;
    inst.enumeratorTexts = {{"Date", "11/20/2006"},       {"Provider", "Tervane"},
                            {"Version", "4.11.0.0"},      {"EnumService", kEnumService},
                            {"SerService", kSerService},  {"ParService", kParService},
                            {"ParMiniService", kParMiniService}};
    inst.driverList = {{"01", "ktcnt.sys"}, {"02", "ktsnt.sys"},  {"03", "ktpptnt.sys"},
                       {"04", "ktpnt.sys"}, {"05", "ktcfg.cpl"}, {"06", "KTS2KUI.dll"}};
    inst.knownErrors = {
        {"0", "This device is working properly."},
        {"10", "This device cannot start."},
        {"12", "This device cannot find enough free resources that it can use."},
        {"22", "This device is disabled."},
        {"24", "This device is not present, is not working properly, or does not have all its "
               "drivers installed."}};
    if (layout.builtinPorts) {
        inst.comPortMap = MapOf({1, 2});
        inst.lptPortMap = MapOf({1});
        inst.serialMap = {{"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM2"}};
        inst.parallelMap = {{"\\Device\\Parallel0", "\\DosDevices\\LPT1"}};
    } else {
        inst.comPortMap = MapOf({});
        inst.lptPortMap = MapOf({});
    }

    int nextCom = layout.builtinPorts ? 3 : 1, nextLpt = layout.builtinPorts ? 2 : 1;
    int serialDevices = 0, parallelDevices = 0;
    for (int c = 1; c <= layout.cards; ++c) {
        Card card;
        const int kinds = layout.serialPerCard * 16 + layout.parallelPerCard;
        card.keyName = CardKeyName(static_cast<uint16_t>(c), 0x0A, 0, kVendor,
                                   static_cast<uint16_t>(0x0100 + kinds));
        const bool cardPresent = !Has(layout.absentCards, c);
        const bool cardEnabled = !Has(layout.disabledCards, c);
        card.values.flags = (cardPresent ? kPresent : 0) | (cardEnabled ? kEnabled : 0) | kEnumeratorBit;
        card.values.error = Lookup(layout.cardErrors, c).value_or(0);
        char desc[64];
        std::snprintf(desc, sizeof desc, "Qarix PCI %dS%dP", layout.serialPerCard, layout.parallelPerCard);
        card.values.deviceDesc = desc;
        card.values.enumPropPages = "KTCARDUI.dll";

        const int portCount = layout.serialPerCard + layout.parallelPerCard;
        for (int p = 1; p <= portCount; ++p) {
            Port port;
            port.keyName = PortKeyName(p - 1);
            port.kind = p <= layout.serialPerCard ? PortKind::Serial : PortKind::Parallel;
            const bool enabled = cardEnabled && !Has(layout.disabledPorts, std::make_pair(c, p));
            const DWORD error = Lookup(layout.portErrors, std::make_pair(c, p)).value_or(0);
            DeviceValues& v = port.values;
            v.flags = (cardPresent ? kPresent : 0) | (enabled ? kEnabled : 0) | kEnumeratorBit;
            v.error = error;
            char text[64];
            if (port.kind == PortKind::Serial) {
                const int com = nextCom++, device = serialDevices++;
                std::snprintf(text, sizeof text, "COM%d", com);
                v.portName = text;
                std::snprintf(text, sizeof text, "KTSerial%d", device);
                v.deviceName = text;
                v.driverName = std::string(kSerService) + ".sys";
                v.deviceDesc = "Qarix Serial Port";
                v.enumPropPages = "KTS2KUI.dll";
                if (*v.flags == kActive && error == 0)
                    inst.serialMap.push_back({"\\Device\\" + *v.deviceName, *v.portName});
            } else {
                const int lpt = nextLpt++, device = parallelDevices++;
                std::snprintf(text, sizeof text, "LPT%d", lpt);
                v.portName = text;
                std::snprintf(text, sizeof text, "ParallelPort%d", device + (layout.builtinPorts ? 1 : 0));
                v.deviceName = text;
                v.driverName = std::string(kParService) + ".sys";
                v.deviceDesc = "Qarix Parallel Port (" + *v.portName + ")";
                v.enumPropPages = "KTPARUI.dll";
                if (*v.flags == kActive && error == 0)
                    inst.parallelMap.push_back({"\\Device\\" + *v.deviceName, "\\DosDevices\\" + *v.portName});
            }
            card.ports.push_back(port);
        }
        inst.cards.push_back(card);
    }
    return inst;
}

LONG DeleteTree(HKEY root, const char* path)
{
    HKEY key;
    LONG rc = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    char name[512];
    for (;;) {
        DWORD chars = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string child = std::string(path) + "\\" + name;
        if ((rc = DeleteTree(root, child.c_str())) != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? RegDeleteKeyA(root, path) : rc;
}

LONG SetDword(HKEY root, const std::string& path, const char* name, DWORD value)
{
    return SetValue(root, path, name, REG_DWORD, &value, sizeof value);
}

LONG SetText(HKEY root, const std::string& path, const char* name, const std::string& text)
{
    return SetValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

LONG SetBinary(HKEY root, const std::string& path, const char* name, const std::vector<uint8_t>& data)
{
    return SetValue(root, path, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

DWORD ReadDword(HKEY root, const std::string& path, const char* name, DWORD fallback)
{
    DWORD value = 0, size = sizeof value;
    return RegGetValueA(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS
               ? value
               : fallback;
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string CardPath(const Card& card)
{
    return std::string(kEnumeratorPath) + "\\" + card.keyName;
}

std::string PortPath(const Card& card, const Port& port)
{
    return CardPath(card) + "\\" + port.keyName;
}

LONG WriteDevice(const std::string& keyPath, const DeviceValues& v)
{
    LONG rc;
    { Key key(HKEY_LOCAL_MACHINE, keyPath, rc); }
    const std::pair<const char*, const std::optional<DWORD>*> dwords[] = {{"Flags", &v.flags},
                                                                          {"Error", &v.error}};
    for (const auto& [name, value] : dwords)
        if (rc == ERROR_SUCCESS && value->has_value())
            rc = SetDword(HKEY_LOCAL_MACHINE, keyPath, name, **value);
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"DeviceDesc", &v.deviceDesc}, {"EnumPropPages", &v.enumPropPages},
        {"DeviceName", &v.deviceName}, {"DriverName", &v.driverName}, {"PortName", &v.portName}};
    for (const auto& [name, value] : texts)
        if (rc == ERROR_SUCCESS && value->has_value())
            rc = SetText(HKEY_LOCAL_MACHINE, keyPath, name, **value);
    return rc;
}

LONG Write(const Installation& inst)
{
    LONG rc = RemoveAll();
    const std::string enumerator = kEnumeratorPath;
    if (rc == ERROR_SUCCESS) rc = WriteTexts(enumerator, inst.enumeratorTexts);
    if (rc == ERROR_SUCCESS && inst.comPortMap)
        rc = SetBinary(HKEY_LOCAL_MACHINE, enumerator, "COMPortMap", *inst.comPortMap);
    if (rc == ERROR_SUCCESS && inst.lptPortMap)
        rc = SetBinary(HKEY_LOCAL_MACHINE, enumerator, "LPTPortMap", *inst.lptPortMap);
    if (rc == ERROR_SUCCESS) rc = WriteTexts(enumerator + "\\DRIVERLIST", inst.driverList);
    if (rc == ERROR_SUCCESS) rc = WriteTexts(enumerator + "\\KNOWNERRORS", inst.knownErrors);
    for (const Card& card : inst.cards) {
        if (rc == ERROR_SUCCESS) rc = WriteDevice(CardPath(card), card.values);
        for (const Port& port : card.ports)
            if (rc == ERROR_SUCCESS) rc = WriteDevice(PortPath(card, port), port.values);
    }
    if (rc == ERROR_SUCCESS) rc = ReplaceValues(kSerialMapPath, inst.serialMap);
    if (rc == ERROR_SUCCESS) rc = ReplaceValues(kParallelMapPath, inst.parallelMap);
    if (rc == ERROR_SUCCESS && inst.installPath)
        rc = SetText(HKEY_LOCAL_MACHINE, kProductKeyPath, "InstallPath", *inst.installPath);
    return rc;
}

LONG RemoveAll()
{
    // Tests leave restricted DACLs behind on purpose; open the tree up before deleting it.
    SetSubtreeDacl(HKEY_LOCAL_MACHINE, kEnumeratorPath, "D:NO_ACCESS_CONTROL");
    LONG rc = DeleteTree(HKEY_LOCAL_MACHINE, kEnumeratorPath);
    if (rc == ERROR_SUCCESS) rc = ReplaceValues(kSerialMapPath, {});
    if (rc == ERROR_SUCCESS) rc = ReplaceValues(kParallelMapPath, {});
    return rc;
}

}  // namespace cardsim
