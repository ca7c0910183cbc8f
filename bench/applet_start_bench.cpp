// Times the tool's start as the Control Panel triggers it (CPL_DBLCLK on the real ktcfg.cpl) until
// the main window is visible, on 16 cards of 8 ports with the four stand-in driver services, how
// much of it the service restart behind the wait window takes, and "Restart Drivers".
#include <windows.h>
#include <cpl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "bench_clock.h"
#include "cardsim.h"
#include "guiauto.h"
#include "resource.h"
#include "standin.h"

namespace {

// The tool's thread pumps no messages while the services restart, so texts are read without
// sending one.
std::wstring TextOf(HWND window)
{
    wchar_t text[64] = {};
    InternalGetWindowText(window, text, 64);
    return text;
}

bool WaitWindowShown()
{
    for (HWND window : guiauto::ProcessWindows("#32770"))
        if (IsWindowVisible(window) && TextOf(GetDlgItem(window, -1)) == L"Please wait for services") return true;
    return false;
}

HWND MainWindow()
{
    for (HWND window : guiauto::ProcessWindows("#32770"))
        if (IsWindowVisible(window) && TextOf(window) == L"KTCfgNt V4.11") return window;
    return nullptr;
}

const char* const kServices[] = {cardsim::kEnumService, cardsim::kSerService, cardsim::kParService,
                                 cardsim::kParMiniService};

// One opening of the tool: CPL_DBLCLK until the main window is visible, with the wait window's
// time; then "Restart Drivers" clicked `restarts` times, each timed until its handler returns.
void OpenTool(APPLET_PROC applet, int restarts)
{
    std::atomic<double> waitShown{0}, waitGone{0}, mainShown{0};
    std::thread watcher([&] {
        for (;;) {
            const bool wait = WaitWindowShown();
            if (wait && waitShown == 0) waitShown = Seconds();
            if (!wait && waitShown != 0 && waitGone == 0) waitGone = Seconds();
            HWND main = MainWindow();
            if (main) {
                mainShown = Seconds();
                for (int i = 0; i < restarts; ++i) {
                    const double clicked = Seconds();
                    SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_RESTART_DRIVERS, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_RESTART_DRIVERS)));
                    std::printf("  \"Restart Drivers\" %.3f s\n", Seconds() - clicked);
                }
                PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            Sleep(2);
        }
    });
    const double start = Seconds();
    applet(nullptr, CPL_DBLCLK, 0, 0);
    watcher.join();
    const double total = mainShown - start;
    if (waitShown == 0 || waitGone == 0)
        std::printf("CPL_DBLCLK to the main window %.3f s (the wait window was not caught)\n", total);
    else
        std::printf("CPL_DBLCLK to the main window %.3f s; service restart (wait window) %.3f s; the rest %.3f s\n",
                    total, waitGone - waitShown, total - (waitGone - waitShown));
}

}  // namespace

int main()
{
    cardsim::Layout layout;
    layout.cards = 16;
    layout.serialPerCard = 6;
    layout.parallelPerCard = 2;
    if (cardsim::Write(cardsim::BuildInstallation(layout)) != ERROR_SUCCESS) return 1;
    for (const char* name : kServices)
        if (standin::Register(name, STANDIN_SERVICE_PATH) != 0 || standin::Start(name) != 0) return 1;

    HMODULE tool = LoadLibraryA(KTCFG_PATH);
    auto applet = tool ? reinterpret_cast<APPLET_PROC>(GetProcAddress(tool, "CPlApplet")) : nullptr;
    if (!applet) return 1;
    std::printf("16 cards of 8 ports, three openings:\n");
    for (int round = 0; round < 3; ++round) OpenTool(applet, 2);
    FreeLibrary(tool);
    for (const char* name : kServices) standin::Remove(name);
    cardsim::RemoveAll();
    return 0;
}
