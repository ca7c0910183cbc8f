// The tool's own pages of a device's sheet: "Common" (status, type, provider, location) and
// "Driver" (provider, date, version, the package's files).

#include "data/driver_info.h"
#include "data/inventory.h"
#include "resource.h"
#include "runtime/format.h"
#include "ui/guarded.h"
#include "ui/property_sheet.h"

namespace {

// The card's or the port's icon and its DeviceDesc, as both pages show them.
void ShowDeviceHeading(HWND page)
{
    if (const CardEntry* card = CardOf(SheetDevice.code)) {
        ShowWindow(GetDlgItem(page, IDC_CARD_ICON), SW_SHOW);
        SetDlgItemTextA(page, IDC_DEVICE_DESC, card->DeviceDesc);
    } else if (const PortEntry* port = PortOf(SheetDevice.code)) {
        SetDlgItemTextA(page, IDC_DEVICE_DESC, port->DeviceDesc);
        ShowWindow(GetDlgItem(page, IDC_PORT_ICON), SW_SHOW);
    }
}

uint16_t ErrorOf(int code)
{
    if (const CardEntry* card = CardOf(code)) return card->error;
    if (const PortEntry* port = PortOf(code)) return port->error;
    return 0;
}

void ShowStatus(HWND page)
{
    const int number = ErrorOf(SheetDevice.code);
    char text[kTextChars] = {};
    if (GetErrorDesc(number, text, sizeof text) != 1)
        kt::Format(text, sizeof text, "Failure number: %i\r\n\r\nNo Description", number);
    SetDlgItemTextA(page, IDC_STATUS_TEXT, text);
}

// A card is its own location; a port is found on the first card that lists it.
const char* LocationOf(int code)
{
    if (const CardEntry* card = CardOf(code)) return card->DeviceDesc;
    const char* location = nullptr;
    if (KindOf(code) == ItemKind::Port) {
        ForEachHolder(code - kPortItemBase, [&](const CardEntry& card) {
            if (!location) location = card.DeviceDesc;
        });
    }
    return location ? location : "";
}

}  // namespace

INT_PTR CALLBACK CommonPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return FALSE;
    return Guarded<INT_PTR>(TRUE, [&] {
        ShowDeviceHeading(page);
        ShowStatus(page);
        SetDlgItemTextA(page, IDC_LOCATION, LocationOf(SheetDevice.code));
        SetDlgItemTextA(page, IDC_DRIVER_PROVIDER, DriverInfo.Provider);
        return TRUE;
    });
}

INT_PTR CALLBACK DriverPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return FALSE;
    return Guarded<INT_PTR>(TRUE, [&] {
        ShowDeviceHeading(page);
        SetDlgItemTextA(page, IDC_DRIVER_PROVIDER, DriverInfo.Provider);
        SetDlgItemTextA(page, IDC_DRIVER_DATE, DriverInfo.Date);
        SetDlgItemTextA(page, IDC_DRIVER_VERSION, DriverInfo.Version);
        // Each file goes on top, so the list shows the package's files in reverse order.
        for (const DriverListEntry& file : DriverList)
            SendDlgItemMessageA(page, IDC_DRIVER_FILES, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(file.name));
        return TRUE;
    });
}
