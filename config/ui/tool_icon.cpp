#include "ui/tool_icon.h"

#include "data/registry_paths.h"
#include "resource.h"

HICON SetToolIcons(HWND window)
{
    HICON large = LoadIconA(ToolInstance, MAKEINTRESOURCEA(IDI_TOOL));  // shared, never destroyed
    auto small = static_cast<HICON>(LoadImageA(ToolInstance, MAKEINTRESOURCEA(IDI_TOOL), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small ? small : large));
    return small;
}
