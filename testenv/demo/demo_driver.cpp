// demo_driver: plays the user for the demo when there is no screen to look at, from a process of
// its own, and saves screenshots into <folder>.
//   demo_driver installer <folder>   the installer's window while it installs
//   demo_driver tool <folder>        the tool: wait window, main window, the expanded tree, the
//                                    sheet of a serial port on each page, the sheet of a card,
//                                    the reserved-ports dialog; then closes the tool
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <string>

#include "guiauto.h"

namespace {

// The tool's control identifiers this walk uses.
constexpr int kTreeId = 1046;
constexpr int kPropertiesId = 1049;
constexpr int kPortMapId = 1076;
constexpr int kComListId = 1096;
constexpr char kMainCaption[] = "KTCfgNt V4.11";

std::string folder;
int failures = 0;

bool Shot(HWND window, const std::string& name)
{
    guiauto::WaitUntilPainted(window);
    const bool ok = guiauto::SaveScreenshot(window, folder + "\\" + name);
    std::printf("%s %s\n", ok ? "saved" : "could not save", name.c_str());
    if (!ok) ++failures;
    return ok;
}

using Match = std::function<bool(HWND)>;

struct Search {
    const Match* matches;
    HWND found;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(window) || !(*search->matches)(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// The first visible top-level window that matches, of any process.
HWND FindTopLevel(const Match& matches)
{
    Search search{&matches, nullptr};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForTopLevel(const Match& matches, DWORD timeoutMs, const char* what)
{
    HWND found = nullptr;
    if (!guiauto::WaitUntil([&] { return (found = FindTopLevel(matches)) != nullptr; }, timeoutMs)) {
        std::printf("%s did not show\n", what);
        ++failures;
    }
    return found;
}

bool IsDialog(HWND window)
{
    return guiauto::ClassOf(window) == "#32770";
}

bool IsWaitWindow(HWND window)
{
    return IsDialog(window) && guiauto::WindowText(GetDlgItem(window, -1)) == "Please wait for services";
}

bool IsSheet(HWND window)
{
    return IsDialog(window) && FindWindowExA(window, nullptr, WC_TABCONTROLA, nullptr);
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation)
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

void Select(HWND tree, HTREEITEM item)
{
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// Expands every root and every device below it.
void ExpandAll(HWND tree)
{
    for (HTREEITEM root = Next(tree, nullptr, TVGN_ROOT); root; root = Next(tree, root, TVGN_NEXT)) {
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        for (HTREEITEM item = Next(tree, root, TVGN_CHILD); item; item = Next(tree, item, TVGN_NEXT))
            if (Next(tree, item, TVGN_CHILD)) SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    }
}

// The first card under "KT Cards", the last root.
HTREEITEM FirstCard(HWND tree)
{
    HTREEITEM last = nullptr;
    for (HTREEITEM root = Next(tree, nullptr, TVGN_ROOT); root; root = Next(tree, root, TVGN_NEXT)) last = root;
    return last ? Next(tree, last, TVGN_CHILD) : nullptr;
}

std::string FileNamePart(const std::string& text)
{
    std::string name;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

// Opens the selected device's sheet, saves each page as <prefix>_<n>_<title>.png, and cancels it.
void ShootSheet(HWND main, const std::string& prefix)
{
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(kPropertiesId, BN_CLICKED), 0);
    HWND sheet = WaitForTopLevel(IsSheet, 20000, "the property sheet");
    if (!sheet) return;
    HWND tabs = FindWindowExA(sheet, nullptr, WC_TABCONTROLA, nullptr);
    const int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        SendMessageA(sheet, PSM_SETCURSEL, index, 0);
        HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        std::string title = FileNamePart(guiauto::WindowText(page));
        if (title.empty()) title = "page";
        Shot(sheet, prefix + "_" + std::to_string(index + 1) + "_" + title + ".png");
    }
    SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    if (!guiauto::WaitUntil([&] { return !IsWindow(sheet); }, 20000)) {
        std::printf("the property sheet did not close\n");
        ++failures;
    }
}

void ShootReservedPorts(HWND main)
{
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(kPortMapId, BN_CLICKED), 0);
    HWND dialog = WaitForTopLevel([](HWND w) { return IsDialog(w) && GetDlgItem(w, kComListId); }, 20000,
                                  "the reserved-ports dialog");
    if (!dialog) return;
    Shot(dialog, "reserved_ports.png");
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    guiauto::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, 20000);
}

int WalkInstaller()
{
    HWND window = WaitForTopLevel([](HWND w) { return guiauto::ClassOf(w) == "QarixInstall"; }, 60000,
                                  "the installer's window");
    if (window) Shot(nullptr, "installer.png");
    return failures ? 1 : 0;
}

int WalkTool()
{
    if (HWND wait = WaitForTopLevel(IsWaitWindow, 60000, "the wait window"))
        Shot(wait, "wait_window.png");
    HWND main = WaitForTopLevel([](HWND w) { return IsDialog(w) && guiauto::WindowText(w) == kMainCaption; },
                                120000, "the main window");
    if (!main) return 1;
    Shot(main, "main_window.png");

    HWND tree = GetDlgItem(main, kTreeId);
    ExpandAll(tree);
    HTREEITEM card = FirstCard(tree);
    HTREEITEM port = card ? Next(tree, card, TVGN_CHILD) : nullptr;
    if (port) Select(tree, port);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, reinterpret_cast<LPARAM>(Next(tree, nullptr, TVGN_ROOT)));
    Shot(main, "expanded_tree.png");

    if (port) ShootSheet(main, "serial_port");
    if (card) {
        Select(tree, card);
        ShootSheet(main, "card");
    }
    ShootReservedPorts(main);
    PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: demo_driver installer|tool <folder>\n");
        return 2;
    }
    folder = argv[2];
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string walk = argv[1];
    if (walk == "installer") return WalkInstaller();
    if (walk == "tool") return WalkTool();
    std::fprintf(stderr, "demo_driver: unknown walk %s\n", argv[1]);
    return 2;
}
