// Entry points of ktcfg.cpl: library load, the Control Panel protocol and the tool's start.
#include "ui/applet.h"

#include <cpl.h>
#include <commctrl.h>

#include "data/driver_info.h"
#include "data/inventory.h"
#include "data/registry_paths.h"
#include "data/results.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/service_prompts.h"

UINT ToolMessage;

namespace {

int initialised;
ATOM instanceAtom;  // "KTCFGAtom" while this process runs the tool

}  // namespace

BOOL InitializeTool(HINSTANCE instance)
{
    ToolMessage = RegisterWindowMessageA("KTCFGMessage");
    if (ToolMessage == 0) return FALSE;
    if (initialised) return TRUE;
    initialised = 1;
    ToolInstance = instance;
    LoadRegistryPaths();
    return TRUE;
}

extern "C" LONG WINAPI StartCfgNt()
{
    // One tool at a time: the atom lives from here until the main window has closed.
    if (GlobalFindAtomA("KTCFGAtom")) {
        PostMessageA(HWND_BROADCAST, ToolMessage, 0, 0);
        return 0;
    }
    instanceAtom = GlobalAddAtomA("KTCFGAtom");

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    int result = GetDriverInfo();
    if (result != kResultOk) ReportResult(result);
    RestartServicesWithWaitWindow();
    GetConfiguration();
    if (CardList.empty()) MessageBoxA(nullptr, "No KTCards found", kToolCaption, MB_OK);
    RunMainWindow();

    if (instanceAtom) GlobalDeleteAtom(instanceAtom);
    instanceAtom = 0;
    return 0;
}

extern "C" LONG APIENTRY CPlApplet(HWND, UINT message, LPARAM param1, LPARAM param2)
{
    switch (message) {
    case CPL_INIT: return 1;
    case CPL_GETCOUNT: return 1;
    case CPL_INQUIRE:
        if (param1 == 0) {
            CPLINFO* info = reinterpret_cast<CPLINFO*>(param2);
            info->idIcon = IDI_TOOL;
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
