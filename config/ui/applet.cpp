// Entry points of ktcfg.cpl: library load, the Control Panel protocol and the tool's start.
#include <windows.h>
#include <cpl.h>

#include "data/registry_paths.h"
#include "data/results.h"
#include "resource.h"

namespace {

constexpr int kAppletIcon = 111;

int initialised;
UINT toolMessage;  // "KTCFGMessage": a second start asks the running window to come forward

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    toolMessage = RegisterWindowMessageA("KTCFGMessage");
    if (toolMessage == 0) return FALSE;
    if (initialised) return TRUE;
    initialised = 1;
    ToolInstance = instance;
    LoadRegistryPaths();
    return TRUE;
}

// The tool itself (single-instance guard, service restart, main window) is not built yet.
extern "C" LONG WINAPI StartCfgNt()
{
    return -1;
}

extern "C" LONG APIENTRY CPlApplet(HWND, UINT message, LPARAM param1, LPARAM param2)
{
    switch (message) {
    case CPL_INIT: return 1;
    case CPL_GETCOUNT: return 1;
    case CPL_INQUIRE:
        if (param1 == 0) {
            CPLINFO* info = reinterpret_cast<CPLINFO*>(param2);
            info->idIcon = kAppletIcon;
            info->idName = IDS_APPLET_NAME;
            info->idInfo = IDS_APPLET_INFO;
            info->lData = 0;
        }
        return 0;
    case CPL_DBLCLK:
        StartCfgNt();
        return 0;
    default: return 0;
    }
}
