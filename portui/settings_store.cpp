#include "settings_store.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "line_settings.h"
#include "resource.h"

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
    long Read(const wchar_t* name, void* data, DWORD size) const
    {
        DWORD read = size;
        if (RegQueryValueExW(key_, name, nullptr, nullptr, static_cast<BYTE*>(data), &read) != ERROR_SUCCESS)
            return -1;
        return static_cast<long>(read);
    }
    bool Write(const wchar_t* name, const void* data, DWORD size) const
    {
        return RegSetValueExW(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

std::wstring ProfileKey(const PortPageContext* context)
{
    return std::wstring(context->portName) + L":";
}

void ReadDeviceValues(const PortKey& key, PortPageContext* context)
{
    const long functionality = key.Read(L"Functionality", context->functionality, kFunctionalityBytes);
    functionality::Normalise(context->functionality, functionality < 0 ? 0 : functionality);
    key.Read(L"PORTINFO", context->portInfo, kPortInfoBytes);
    portinfo::Normalise(context->portInfo, functionality::HighestUart(context->functionality));

    int32_t useFastRx = 0;
    context->software.useFastRx = key.Read(L"UseFastRx", &useFastRx, sizeof useFastRx) < 0 ? 1 : useFastRx;
    uint8_t overspeed = 0;
    context->software.overspeed = key.Read(L"Overspeed", &overspeed, 1) < 0 ? kDefaultOverspeed : overspeed;
    if (key.Read(L"COMPINFO", context->compInfo, kCompInfoBytes) < 0 || Get16(context->compInfo, 0) != 1)
        std::memset(context->compInfo, 0, kCompInfoBytes);

    uint8_t enableCks = 0;
    MoreHardwareDialog& more = context->moreHardware;
    more.enableCksPresent = key.Read(L"EnableCks", &enableCks, 1) >= 0 ? 1 : 0;
    more.enableCks = more.enableCksPresent && enableCks ? 1 : 0;
    uint8_t cks = 0;
    more.cks = key.Read(L"CKS", &cks, 1) >= 0 ? cks : 0;
}

// The codes of the storing steps, reported to the user when one fails.
int StoreSteps(PortPageContext* context)
{
    PortKey key(context);
    if (!key) return 1;
    LineSettings line = {context->baudRate, context->dataBits, context->parity, context->stopBits,
                         context->flowControl};
    if (!WriteProfileStringW(L"Ports", ProfileKey(context).c_str(), FormatLineSettings(line).c_str())) return 2;
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
    if (GetProfileStringW(L"Ports", ProfileKey(context).c_str(), kDefaultLineText, text, 128) == 0) return 0;
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
    if (key.Read(L"PortName", name, kPortNameChars * sizeof(wchar_t)) < 0) return 0;
    name[kPortNameChars - 1] = 0;
    std::memcpy(context->portName, name, sizeof context->portName);
    if (!context->settingsLoaded && !ReadProfileEntry(context)) return 0;
    ReadDeviceValues(key, context);
    return 1;
}

void StorePortSettings(PortPageContext* context)
{
    const int code = StoreSteps(context);
    if (code == 0) return;
    wchar_t format[128] = {}, caption[128] = {}, text[160];
    LoadStringW(ProviderInstance, IDS_WRITE_ERROR, format, 128);
    LoadStringW(ProviderInstance, IDS_SETTINGS_CAPTION, caption, 128);
    std::swprintf(text, 160, format, code);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
}
