// Run once when a test session starts: brings up the prefix's desktop, service manager and common
// controls so that the long-lived Wine processes are started here and not by a test.
#include <windows.h>
#include <commctrl.h>

int main()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    HWND window = CreateWindowA("STATIC", "warm-up", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(window, SW_SHOW);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    DestroyWindow(window);
    if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT))
        CloseServiceHandle(manager);
    return 0;
}
