// The tool's icon (111) on its own windows.
#pragma once

#include <windows.h>

// Sets icon 111 as the window's large and small icon. Returns the small icon, loaded at the
// small-icon size for this window alone: the caller destroys it when the window is gone.
HICON SetToolIcons(HWND window);
