// The property sheet of a card or a port: the tool's pages "Common" and "Driver", then the pages
// of the device's page provider, with full access to the device's key while it is open.
#pragma once

#include <windows.h>
#include <prsht.h>

#include "ui/device_rules.h"

// At most this many pages in a sheet, the tool's two first.
constexpr UINT kMaxSheetPages = 10;

// The device whose sheet is being built or shown; the pages read it.
struct CurrentDevice {
    int code = 0;  // 100 + card index, 1000 + port index
    ItemKind kind = ItemKind::None;
};
extern CurrentDevice SheetDevice;

// Shows the sheet of the device with item code modally and returns its result word (8: the
// computer must be restarted); 0 when no sheet could be shown.
int ShowDevicePropertySheet(HWND owner, int code);

// How the main window opens a device's sheet. Only a test program changes it, to stand in for a
// sheet whose pages report a result.
extern int (*DevicePropertySheet)(HWND owner, int code);

// The add-page function handed to providers; header points to the sheet's PROPSHEETHEADERA.
// Refuses a page when the sheet holds kMaxSheetPages already.
BOOL CALLBACK AddSheetPage(HPROPSHEETPAGE page, LPARAM header);

// Page procedures of dialogs 107 ("Common") and 118 ("Driver").
INT_PTR CALLBACK CommonPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DriverPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
