// The pages a port's sheet can hold: each has a dialog procedure and a prepare function that
// decides whether the page is added and prepares its part of the context.
#pragma once

#include "page_context.h"

INT_PTR CALLBACK SettingsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareSettingsPage(PortPageContext* context);
