#include "ui/property_sheet.h"

#include <shlwapi.h>

#include "data/inventory.h"
#include "data/key_grant.h"
#include "data/registry_paths.h"
#include "data/results.h"
#include "pages/page_request.h"
#include "resource.h"

CurrentDevice SheetDevice;

namespace {

using EnumPropPagesFunction = BOOL(WINAPI*)(PageRequest*, LPFNADDPROPSHEETPAGE, LPARAM);

// What the sheet needs of a card or a port entry.
struct DeviceKeys {
    const char* keyPath = nullptr;
    const char* provider = nullptr;
    const char* caption = nullptr;
};

DeviceKeys KeysOf(int code)
{
    if (const CardEntry* card = CardOf(code)) return {card->keyPath, card->EnumPropPages, card->DeviceDesc};
    if (const PortEntry* port = PortOf(code)) return {port->keyPath, port->EnumPropPages, port->DeviceDesc};
    return {};
}

// The extended header (with the watermark and header pictures) from comctl32 4.71 on.
bool ExtendedHeaderKnown()
{
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    auto getVersion = comctl ? reinterpret_cast<DLLGETVERSIONPROC>(GetProcAddress(comctl, "DllGetVersion")) : nullptr;
    DLLVERSIONINFO version = {};
    version.cbSize = sizeof version;
    if (!getVersion || FAILED(getVersion(&version))) return false;
    return version.dwMajorVersion > 4 || (version.dwMajorVersion == 4 && version.dwMinorVersion >= 71);
}

HPROPSHEETPAGE CreateOwnPage(int dialog, DLGPROC procedure)
{
    PROPSHEETPAGEA page = {};
    page.dwSize = PROPSHEETPAGEA_V1_SIZE;  // the size every comctl32 takes; 4.00 takes no other
    page.hInstance = ToolInstance;
    page.pszTemplate = MAKEINTRESOURCEA(dialog);
    page.pfnDlgProc = procedure;
    return CreatePropertySheetPageA(&page);
}

UINT CreateOwnPages(HPROPSHEETPAGE* pages)
{
    UINT count = 0;
    if (HPROPSHEETPAGE page = CreateOwnPage(IDD_COMMON_PAGE, CommonPageProc)) pages[count++] = page;
    if (HPROPSHEETPAGE page = CreateOwnPage(IDD_DRIVER_PAGE, DriverPageProc)) pages[count++] = page;
    return count;
}

// Pages that are never shown are destroyed here, provider pages before their library goes.
void DestroyPages(PROPSHEETHEADERA& header)
{
    for (UINT index = 0; index < header.nPages; ++index) DestroyPropertySheetPage(header.phpage[index]);
    header.nPages = 0;
}

void RightsError(HWND owner)
{
    MessageBoxA(owner, "Error to change the rights in the registry", kToolCaption, MB_OK);
}

// The provider's pages write into the device's key: the user has full access to it and all keys
// below it exactly while the sheet is shown. Access that cannot be put back is said too.
void ShowWithAccess(HWND owner, PROPSHEETHEADERA& header, const char* keyPath)
{
    KeyGrant grant(HKEY_LOCAL_MACHINE, keyPath);
    if (!grant) {
        RightsError(owner);
        DestroyPages(header);
        return;
    }
    PropertySheetA(&header);
    if (!grant.Restore()) RightsError(owner);
}

}  // namespace

BOOL CALLBACK AddSheetPage(HPROPSHEETPAGE page, LPARAM headerAddress)
{
    auto* header = reinterpret_cast<PROPSHEETHEADERA*>(headerAddress);
    if (header->nPages >= kMaxSheetPages) return FALSE;
    header->phpage[header->nPages++] = page;
    return TRUE;
}

int ShowDevicePropertySheet(HWND owner, int code)
{
    const DeviceKeys device = KeysOf(code);
    if (!device.keyPath) return 0;
    SheetDevice = {code, KindOf(code)};

    HPROPSHEETPAGE pages[kMaxSheetPages] = {};
    PROPSHEETHEADERA header = {};
    header.dwSize = ExtendedHeaderKnown() ? sizeof(PROPSHEETHEADERA) : PROPSHEETHEADERA_V1_SIZE;
    header.hwndParent = owner;
    header.hInstance = ToolInstance;
    header.pszCaption = device.caption;
    header.phpage = pages;
    header.nPages = CreateOwnPages(pages);
    if (header.nPages == 0) return 0;

    HMODULE provider = device.provider[0] ? LoadLibraryA(device.provider) : nullptr;
    if (!provider) {
        DestroyPages(header);
        return 0;
    }
    PageRequest request = {device.keyPath, 0};
    if (auto enumPages = reinterpret_cast<EnumPropPagesFunction>(GetProcAddress(provider, "EnumPropPages")))
        enumPages(&request, AddSheetPage, reinterpret_cast<LPARAM>(&header));
    ShowWithAccess(owner, header, device.keyPath);
    FreeLibrary(provider);
    return static_cast<int>(request.result);
}

int (*DevicePropertySheet)(HWND owner, int code) = ShowDevicePropertySheet;
