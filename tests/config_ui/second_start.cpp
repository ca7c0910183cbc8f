// Starts the tool from a second process, as a second click in the Control Panel would: loads
// ktcfg.cpl and calls StartCfgNt. Exit code 0 when it returned without opening a window, 3 when
// this process got a window of its own, 2 when the tool could not be loaded.
#include <windows.h>

namespace {

int windows;

BOOL CALLBACK CountOwn(HWND window, LPARAM)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window)) ++windows;
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    HMODULE tool = LoadLibraryA(argv[1]);
    auto start = tool ? reinterpret_cast<LONG(WINAPI*)()>(GetProcAddress(tool, "StartCfgNt")) : nullptr;
    if (!start) return 2;
    if (start() != 0) return 4;
    EnumWindows(CountOwn, 0);
    return windows ? 3 : 0;
}
