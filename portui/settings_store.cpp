#include "settings_store.h"

#include <cstring>

#include "line_settings.h"
#include "resource.h"
#include "runtime/format.h"

namespace {

constexpr REGSAM kPortKeyAccess = KEY_READ | KEY_WRITE;
constexpr uint8_t kDefaultOverspeed = 8;

class PortKey {
public:
    explicit PortKey(const PortPageContext* context)
    {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, context->keyPath, 0, kPortKeyAccess, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~PortKey()
    {
        if (key_) RegCloseKey(key_);
    }
    PortKey(const PortKey&) = delete;
    PortKey& operator=(const PortKey&) = delete;
    explicit operator bool() const { return key_ != nullptr; }

    // Reads at most size bytes; returns the number read, or -1 when the value is missing or larger.
    // Any other failure also gives -1 and is remembered: see Unread.
    long Read(const wchar_t* name, void* data, DWORD size) const
    {
        DWORD read = size;
        const LONG rc = RegQueryValueExW(key_, name, nullptr, nullptr, static_cast<BYTE*>(data), &read);
        if (rc == ERROR_SUCCESS) return static_cast<long>(read);
        if (rc != ERROR_FILE_NOT_FOUND && rc != ERROR_MORE_DATA) unread_ = true;
        return -1;
    }
    // A value was there but could not be read: the defaults in its place would be stored over it.
    bool Unread() const { return unread_; }
    bool Write(const wchar_t* name, const void* data, DWORD size) const
    {
        return RegSetValueExW(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
    mutable bool unread_ = false;
};

// "<port name>:", the port's key in profile section "Ports".
struct ProfileKey {
    explicit ProfileKey(const PortPageContext* context)
    {
        kt::Format(text, sizeof text / sizeof text[0], L"%ls:", context->portName);
    }
    wchar_t text[kPortNameChars + 2];
};

// A value of at most size bytes that holds at least one: an empty value is as good as missing.
template <class T>
bool ReadSome(const PortKey& key, const wchar_t* name, T& value)
{
    T read{};
    if (key.Read(name, &read, sizeof read) <= 0) return false;
    value = read;
    return true;
}

void ReadDeviceValues(const PortKey& key, PortPageContext* context)
{
    const long functionality = key.Read(L"Functionality", context->functionality, kFunctionalityBytes);
    functionality::Normalise(context->functionality, functionality < 0 ? 0 : functionality);
    // A missing or oversized PORTINFO reads as an empty record, which the defaults replace.
    if (key.Read(L"PORTINFO", context->portInfo, kPortInfoBytes) <= 0) std::memset(context->portInfo, 0, kPortInfoBytes);
    portinfo::Normalise(context->portInfo, functionality::HighestUart(context->functionality));

    int32_t useFastRx = 1;
    ReadSome(key, L"UseFastRx", useFastRx);
    context->software.useFastRx = useFastRx;
    uint8_t overspeed = kDefaultOverspeed;
    ReadSome(key, L"Overspeed", overspeed);
    context->software.overspeed = overspeed;
    if (key.Read(L"COMPINFO", context->compInfo, kCompInfoBytes) < 0 || Get16(context->compInfo, 0) != 1)
        std::memset(context->compInfo, 0, kCompInfoBytes);

    uint8_t enableCks = 0;
    MoreHardwareDialog& more = context->moreHardware;
    more.enableCksPresent = ReadSome(key, L"EnableCks", enableCks) ? 1 : 0;
    more.enableCks = enableCks ? 1 : 0;
    uint8_t cks = 0;
    ReadSome(key, L"CKS", cks);
    more.cks = cks;
}

bool WriteProfileEntry(const PortPageContext* context)
{
    LineSettings line = {context->baudRate, context->dataBits, context->parity, context->stopBits,
                         context->flowControl};
    try {
        return WriteProfileStringW(L"Ports", ProfileKey(context).text, FormatLineSettings(line).c_str()) != FALSE;
    } catch (...) {
        return false;  // no memory for the text: the step fails like a refused write
    }
}

// The codes of the storing steps, reported to the user when one fails.
int StoreSteps(PortPageContext* context)
{
    PortKey key(context);
    if (!key) return 1;
    if (!WriteProfileEntry(context)) return 2;
    Put16(context->portInfo, portinfo::kVersion, 1);
    if (!key.Write(L"PORTINFO", context->portInfo, kPortInfoBytes)) return 3;
    if (!key.Write(L"Overspeed", &context->software.overspeed, 1)) return 4;
    Put16(context->compInfo, 0, 1);
    if (!key.Write(L"COMPINFO", context->compInfo, kCompInfoBytes)) return 5;
    if (!key.Write(L"UseFastRx", &context->software.useFastRx, 4)) return 6;
    if (context->moreHardware.enableCksPresent) {
        if (!key.Write(L"EnableCks", &context->moreHardware.enableCks, 1)) return 7;
        if (!key.Write(L"CKS", &context->moreHardware.cks, 1)) return 8;
    }
    return 0;
}

}  // namespace

HINSTANCE ProviderInstance;

int ReadProfileEntry(PortPageContext* context)
{
    wchar_t text[128] = {};
    if (GetProfileStringW(L"Ports", ProfileKey(context).text, kDefaultLineText, text, 128) == 0) return 0;
    const LineSettings line = ParseLineSettings(text);
    context->baudRate = line.baudRate;
    context->dataBits = line.dataBits;
    context->parity = line.parity;
    context->stopBits = line.stopBits;
    context->flowControl = line.flowControl;
    context->settingsLoaded = 1;
    return 1;
}

int LoadPortSettings(PortPageContext* context)
{
    PortKey key(context);
    if (!key) return 0;
    wchar_t name[kPortNameChars + 1] = {};
    if (key.Read(L"PortName", name, kPortNameChars * sizeof(wchar_t)) <= 0) return 0;  // empty: no name
    name[kPortNameChars - 1] = 0;
    std::memcpy(context->portName, name, sizeof context->portName);
    if (!context->settingsLoaded && !ReadProfileEntry(context)) return 0;
    ReadDeviceValues(key, context);
    return key.Unread() ? 0 : 1;
}

bool StorePortSettings(PortPageContext* context)
{
    const int code = StoreSteps(context);
    if (code == 0) return true;
    wchar_t format[128] = {}, caption[128] = {}, text[160];
    LoadStringW(ProviderInstance, IDS_WRITE_ERROR, format, 128);
    LoadStringW(ProviderInstance, IDS_SETTINGS_CAPTION, caption, 128);
    kt::Format(text, 160, format, code);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
    return false;
}
