// The reserved COM and LPT numbers dialog.
#pragma once

#include <windows.h>

// Not built yet: shows nothing.
void ShowReservedPortsDialog(HWND owner);
