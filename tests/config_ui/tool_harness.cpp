#include "tool_harness.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "data/service_control.h"
#include "guiauto.h"
#include "resource.h"
#include "standin.h"
#include "ui/applet.h"
#include "ui/property_sheet.h"

namespace {

const char* const kServices[] = {cardsim::kEnumService, cardsim::kSerService, cardsim::kParService,
                                 cardsim::kParMiniService};

constexpr char kMainWindowCaption[] = "KTCfgNt V4.11";
constexpr char kInstanceAtom[] = "KTCFGAtom";

void ShortPause()
{
    Sleep(10);
}

// The tool's single-instance atom outlives a test program that was killed while the tool ran,
// and would make every later start return at once.
bool DeleteInstanceAtom()
{
    bool found = false;
    for (int reference = 0; reference < 100; ++reference) {
        const ATOM atom = GlobalFindAtomA(kInstanceAtom);
        if (!atom) break;
        found = true;
        GlobalDeleteAtom(atom);
    }
    return found;
}

// Main windows of the tool in any process: cancelled, and their process ended when that does
// not close them.
bool CloseToolWindows()
{
    bool found = false;
    for (HWND window; (window = FindWindowA("#32770", kMainWindowCaption)) != nullptr;) {
        found = true;
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        if (guiauto::WaitUntil([&] { return !IsWindow(window); }, 5000)) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = pid != GetCurrentProcessId() ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid) : nullptr;
        if (!process) break;
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    return found;
}

TreeItem ReadItem(HWND tree, HTREEITEM handle)
{
    TreeItem item;
    item.handle = handle;
    char text[256] = {};
    TVITEMA tv = {};
    tv.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_STATE;
    tv.hItem = handle;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    tv.stateMask = TVIS_EXPANDED;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    item.text = text;
    item.image = tv.iImage;
    item.code = static_cast<int>(tv.lParam);
    item.expanded = (tv.state & TVIS_EXPANDED) != 0;
    for (auto child = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)handle));
         child; child = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)child)))
        item.children.push_back(ReadItem(tree, child));
    return item;
}

}  // namespace

const TreeItem& TreeItem::Child(size_t index) const
{
    static const TreeItem none;
    if (index < children.size()) return children[index];
    ADD_FAILURE() << "\"" << text << "\" has " << children.size() << " children, not " << index + 1;
    return none;
}

bool ToolHarness::ClearLeftovers()
{
    const bool windows = CloseToolWindows();
    const bool atom = DeleteInstanceAtom();
    return windows || atom;
}

void ToolHarness::SetUp()
{
    if (ClearLeftovers()) std::fprintf(stderr, "note: an earlier test left the tool running or its atom behind; cleared\n");
    SimulatedRegistry::SetUp();
    ASSERT_TRUE(InitializeTool(GetModuleHandleA(nullptr)));
    ServicePollPause = ShortPause;
    DevicePropertySheet = ShowDevicePropertySheet;
    standin::ClearLog();
}

void ToolHarness::TearDown()
{
    EXPECT_FALSE(CloseToolWindows()) << "the test left a window of the tool open";
    EXPECT_FALSE(DeleteInstanceAtom()) << "the test left the tool's instance atom behind";
    for (const char* name : kServices) standin::Remove(name);
    standin::ClearLog();
    SimulatedRegistry::TearDown();
}

void ToolHarness::FakePropertySheet(int result)
{
    sheetOpenedFor = 0;
    sheetResult = result;
    DevicePropertySheet = RecordSheet;
}

int ToolHarness::RecordSheet(HWND, int code)
{
    sheetOpenedFor = code;
    return sheetResult;
}

void ToolHarness::RegisterServices()
{
    for (const char* name : kServices) {
        ASSERT_EQ(standin::Register(name, STANDIN_SERVICE_PATH), 0u) << name;
        ASSERT_EQ(standin::Start(name), 0u) << name;
    }
    standin::ClearLog();
}

void ToolHarness::RunTool(const std::function<void()>& drive)
{
    guiauto::Watchdog watchdog(60000, [] { DeleteInstanceAtom(); });
    std::thread driver([&] {
        window = guiauto::WaitForWindow("#32770", kMainWindowCaption, 30000);
        if (!window) {
            ADD_FAILURE() << "the main window did not open";
            return;
        }
        tree = GetDlgItem(window, IDC_TREE);
        Sync();
        drive();
        if (WindowOpen()) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(StartCfgNt(), 0);
    driver.join();
    EXPECT_FALSE(watchdog.fired()) << "the tool had to be closed by the watchdog";
}

std::vector<TreeItem> ToolHarness::Tree() const
{
    std::vector<TreeItem> roots;
    for (auto root = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); root;
         root = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)root)))
        roots.push_back(ReadItem(tree, root));
    return roots;
}

TreeItem ToolHarness::Root(const std::string& text) const
{
    for (const TreeItem& root : Tree())
        if (root.text == text) return root;
    ADD_FAILURE() << "no root " << text;
    return {};
}

HTREEITEM ToolHarness::Find(const std::vector<std::string>& path, int occurrence) const
{
    std::vector<TreeItem> level = Tree();
    HTREEITEM found = nullptr;
    for (size_t depth = 0; depth < path.size(); ++depth) {
        int seen = 0;
        const TreeItem* match = nullptr;
        for (const TreeItem& item : level)
            if (item.text == path[depth] && (depth + 1 < path.size() || seen++ == occurrence)) {
                match = &item;
                break;
            }
        if (!match) return nullptr;
        found = match->handle;
        std::vector<TreeItem> next = match->children;
        level = std::move(next);
    }
    return found;
}

HTREEITEM ToolHarness::ItemWithCode(const std::string& rootText, int code, int occurrence) const
{
    std::vector<const TreeItem*> stack;
    const TreeItem root = Root(rootText);
    std::function<HTREEITEM(const TreeItem&)> search = [&](const TreeItem& item) -> HTREEITEM {
        for (const TreeItem& child : item.children) {
            if (child.code == code && occurrence-- == 0) return child.handle;
            if (HTREEITEM found = search(child)) return found;
        }
        return nullptr;
    };
    return search(root);
}

HTREEITEM ToolHarness::Selected() const
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

HTREEITEM ToolHarness::DropHighlighted() const
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_DROPHILITE, 0));
}

void ToolHarness::Select(HTREEITEM item) const
{
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void ToolHarness::Expand(HTREEITEM item) const
{
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

void ToolHarness::ExpandAll() const
{
    std::function<void(const TreeItem&)> expand = [&](const TreeItem& item) {
        Expand(item.handle);
        for (const TreeItem& child : item.children) expand(child);
    };
    for (const TreeItem& root : Tree()) expand(root);
}

void ToolHarness::Click(int id) const
{
    PostMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0);
    Sync();
}

void ToolHarness::Command(int id) const
{
    guiauto::Click(window, id);
    Sync();
}

void ToolHarness::FocusTree() const
{
    PostMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(tree), TRUE);
    Sync();
    EXPECT_TRUE(guiauto::WaitUntil([&] { return guiauto::FocusOf(window) == tree; }, 5000))
        << "the tree did not get the focus";
}

void ToolHarness::KeyInTree(UINT virtualKey) const
{
    FocusTree();
    guiauto::PostKey(tree, virtualKey);
    Sync();
}

void ToolHarness::CharInTree(char character) const
{
    FocusTree();
    PostMessageA(tree, WM_CHAR, static_cast<WPARAM>(character), 1);
    Sync();
}

void ToolHarness::ContextMenu(HTREEITEM item, int downPresses) const
{
    RECT rect = {};
    std::memcpy(&rect, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the rectangle
    SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
    const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageA(tree, WM_RBUTTONDOWN, MK_RBUTTON, point);
    PostMessageA(tree, WM_RBUTTONUP, 0, point);
    HWND menu = guiauto::WaitForWindow("#32768", nullptr, 5000);
    if (!menu) {
        ADD_FAILURE() << "no context menu";
        return;
    }
    for (int i = 0; i < downPresses; ++i) guiauto::PostKey(menu, VK_DOWN);
    guiauto::PostKey(menu, VK_RETURN);
    EXPECT_TRUE(guiauto::WaitUntil([&] { return !IsWindowVisible(menu); }, 5000)) << "the context menu stayed open";
    Sync();
}

bool ToolHarness::Visible(int id) const
{
    return IsWindowVisible(GetDlgItem(window, id)) != FALSE;
}

std::string ToolHarness::Text(int id) const
{
    return guiauto::WindowText(GetDlgItem(window, id));
}

bool ToolHarness::Checked(int id) const
{
    return SendMessageA(GetDlgItem(window, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool ToolHarness::WindowOpen() const
{
    return window && IsWindow(window) && IsWindowVisible(window);
}

bool ToolHarness::WaitUntilClosed() const
{
    return guiauto::WaitUntil([&] { return !WindowOpen(); }, 20000);
}

void ToolHarness::WaitForBoxes(size_t count)
{
    EXPECT_TRUE(guiauto::WaitUntil([&] { return boxes.Boxes().size() >= count; }, 20000))
        << "expected " << count << " message boxes";
    Sync();
}

void ToolHarness::Sync() const
{
    // Twice: what the window posts to itself while handling the first round is taken too.
    for (int round = 0; round < 2; ++round)
        if (!guiauto::Flush(window, 20000)) {
            ADD_FAILURE() << "the tool's window took no posted message for 20 s";
            return;
        }
}

void ToolHarness::Screenshot(const std::string& name) const
{
    guiauto::WaitUntilPainted(window);
    guiauto::SaveScreenshot(window, guiauto::ScreenshotDir() + "\\" + name + ".png");
}
