// The property sheet of a card or a port.
#pragma once

#include <windows.h>

// Shows the sheet of the device with item code (100 + card index, 1000 + port index) modally and
// returns its result word (8: the computer must be restarted). Not built yet: shows nothing and
// returns 0.
int ShowDevicePropertySheet(HWND owner, int code);

// How the main window opens a device's sheet. Only a test program changes it, to stand in for a
// sheet whose pages report a result.
extern int (*DevicePropertySheet)(HWND owner, int code);
