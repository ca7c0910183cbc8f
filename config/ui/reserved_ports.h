// The reserved COM and LPT numbers dialog (121): lists the runs of both port maps, adds and
// removes typed numbers and ranges, writes both maps on OK.
#pragma once

#include <windows.h>

// Private message to either edit box: apply its typed numbers. wParam chooses the map (2000 COM,
// 3000 LPT, 0 the box that has the focus), lParam the mode (2 add, anything else remove).
constexpr UINT kApplyTypedMessage = WM_USER + 1;
constexpr WPARAM kComMap = 2000;
constexpr WPARAM kLptMap = 3000;
constexpr LPARAM kAddMode = 2;
constexpr LPARAM kRemoveMode = 1;

// Rereads the maps, hides the owner, runs the dialog modally and shows the owner again. Cancel
// puts the maps in memory back as they were read.
void ShowReservedPortsDialog(HWND owner);
