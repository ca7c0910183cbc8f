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

constexpr char kInstanceAtomName[] = "KTCFGAtom";
constexpr char kInstanceMutexName[] = "KTCFGInstance";

// Owned by the thread that runs the tool. Unlike the atom, the system lets go of it when its
// process ends, however it ends, so it tells a running instance from one that died; and taking
// it is one step, so of two starts at the same moment only one wins.
HANDLE instanceMutex;

// An atom that a dead instance left behind is taken over: its references go, a new one is made.
ATOM TakeOverAtom()
{
    for (int reference = 0; reference < 0x10000 && GlobalFindAtomA(kInstanceAtomName); ++reference)
        GlobalDeleteAtom(GlobalFindAtomA(kInstanceAtomName));
    return GlobalAddAtomA(kInstanceAtomName);
}

}  // namespace

bool TakeToolInstance()
{
    if (instanceMutex) return false;  // this process runs the tool already
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kInstanceMutexName);
    if (!mutex) {
        // Without the mutex only the atom can tell.
        if (GlobalFindAtomA(kInstanceAtomName)) return false;
        instanceAtom = GlobalAddAtomA(kInstanceAtomName);
        return true;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    instanceMutex = mutex;
    instanceAtom = TakeOverAtom();
    return true;
}

void InitToolControls()
{
    using InitControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    auto initEx = comctl ? reinterpret_cast<InitControlsEx>(GetProcAddress(comctl, "InitCommonControlsEx")) : nullptr;
    const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    if (!initEx || !initEx(&controls)) InitCommonControls();
}

void ReleaseToolInstance()
{
    if (instanceAtom) GlobalDeleteAtom(instanceAtom);
    instanceAtom = 0;
    if (instanceMutex) {
        ReleaseMutex(instanceMutex);
        CloseHandle(instanceMutex);
    }
    instanceMutex = nullptr;
}

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
    // One tool at a time: the instance is held from here until the main window has closed.
    if (!TakeToolInstance()) {
        PostMessageA(HWND_BROADCAST, ToolMessage, 0, 0);
        return 0;
    }

    InitToolControls();

    int result = GetDriverInfo();
    if (result != kResultOk) ReportResult(result);
    RestartServicesWithWaitWindow();
    GetConfiguration();
    if (CardList.empty()) MessageBoxA(nullptr, "No KTCards found", kToolCaption, MB_OK);
    RunMainWindow();

    ReleaseToolInstance();
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
