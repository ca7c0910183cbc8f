// demo_driver <folder>: plays the user for the demo when there is no screen to look at. Waits for
// the tool's wait window and main window (in another process), saves screenshots of them and of
// the expanded device tree into <folder>, and closes the tool.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "guiauto.h"

namespace {

constexpr int kTreeId = 1046;

struct Search {
    HWND found = nullptr;
};

BOOL CALLBACK FindWaitWindow(HWND window, LPARAM param)
{
    if (guiauto::ClassOf(window) == "#32770" && IsWindowVisible(window) &&
        guiauto::WindowText(GetDlgItem(window, -1)) == "Please wait for services") {
        reinterpret_cast<Search*>(param)->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitWindow()
{
    Search search;
    EnumWindows(FindWaitWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation)
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

// Expands every root and card; returns the first port under a card.
HTREEITEM ExpandAll(HWND tree)
{
    HTREEITEM firstCardPort = nullptr;
    for (HTREEITEM root = Next(tree, nullptr, TVGN_ROOT); root; root = Next(tree, root, TVGN_NEXT)) {
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        for (HTREEITEM item = Next(tree, root, TVGN_CHILD); item; item = Next(tree, item, TVGN_NEXT)) {
            if (HTREEITEM child = Next(tree, item, TVGN_CHILD)) {
                SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
                if (!firstCardPort) firstCardPort = child;
            }
        }
    }
    return firstCardPort;
}

bool Shot(HWND window, const std::string& folder, const char* name)
{
    const std::string path = folder + "\\" + name;
    const bool ok = guiauto::SaveScreenshot(window, path);
    std::printf("%s %s\n", ok ? "saved" : "could not save", name);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    const std::string folder = argv[1];
    CreateDirectoryA(folder.c_str(), nullptr);

    HWND wait = nullptr;
    if (guiauto::WaitUntil([&] { return (wait = WaitWindow()) != nullptr; }, 60000)) {
        guiauto::WaitUntilPainted(wait);
        Shot(nullptr, folder, "wait_window.png");
    } else {
        std::printf("the wait window did not show\n");
    }

    HWND main = nullptr;
    if (!guiauto::WaitUntil([&] { return (main = FindWindowA("#32770", "KTCfgNt V4.11")) != nullptr; }, 120000)) {
        std::printf("the main window did not open\n");
        return 1;
    }
    guiauto::WaitUntilPainted(main);
    Shot(main, folder, "main_window.png");

    HWND tree = GetDlgItem(main, kTreeId);
    if (HTREEITEM port = ExpandAll(tree)) SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(port));
    SendMessageA(tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE,
                 reinterpret_cast<LPARAM>(Next(tree, nullptr, TVGN_ROOT)));
    guiauto::WaitUntilPainted(main);
    Shot(main, folder, "expanded_tree.png");

    PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
    return 0;
}
