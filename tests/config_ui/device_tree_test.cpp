// What the device tree shows, and enabling, disabling and removing devices in it.
#include <gtest/gtest.h>

#include <atomic>

#include "data/inventory.h"
#include "tool_harness.h"

namespace {

std::vector<int> Images(const std::vector<TreeItem>& items)
{
    std::vector<int> images;
    for (const TreeItem& item : items) images.push_back(item.image);
    return images;
}

std::vector<int> Codes(const std::vector<TreeItem>& items)
{
    std::vector<int> codes;
    for (const TreeItem& item : items) codes.push_back(item.code);
    return codes;
}

// Five cards of two serial ports and one parallel port:
// 1 fine (port 2 in error, port 3 disabled), 2 disabled, 3 in error, 4 absent, 5 disabled and in error.
cardsim::Layout MixedLayout()
{
    cardsim::Layout layout;
    layout.cards = 5;
    layout.serialPerCard = 2;
    layout.parallelPerCard = 1;
    layout.absentCards = {4};
    layout.disabledCards = {2, 5};
    layout.cardErrors = {{3, 24}, {5, 12}};
    layout.portErrors = {{{1, 2}, 10}};
    layout.disabledPorts = {{1, 3}};
    return layout;
}

class DeviceTree : public ToolHarness {};

TEST_F(DeviceTree, ImagesOfPresentDisabledErroneousCardsAndPortsInBothBranches)
{
    Install(MixedLayout());
    RunTool([&] {
        const TreeItem cards = Root("KT Cards");
        EXPECT_EQ(Codes(cards.children), (std::vector<int>{100, 101, 102, 104}));
        EXPECT_EQ(Images(cards.children), (std::vector<int>{kCard, kCardOff, kCardError, kCardError}));
        EXPECT_EQ(Images(cards.Child(0).children), (std::vector<int>{kPort, kPortError, kPortOff}));
        EXPECT_EQ(Images(cards.Child(1).children), (std::vector<int>{kPortOff, kPortOff, kPortOff}));
        EXPECT_EQ(Images(cards.Child(2).children), (std::vector<int>{kPortError, kPortError, kPortError}));
        // A disabled card in error: its ports show the error under the card ...
        EXPECT_EQ(Images(cards.Child(3).children), (std::vector<int>{kPortError, kPortError, kPortError}));

        const TreeItem ports = Root("KT Ports");
        EXPECT_EQ(Codes(ports.children),
                  (std::vector<int>{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1012, 1013, 1014}));
        // ... and the disabled card under "KT Ports".
        EXPECT_EQ(Images(ports.children), (std::vector<int>{kPort, kPortError, kPortOff, kPortOff, kPortOff, kPortOff,
                                                            kPortError, kPortError, kPortError, kPortOff, kPortOff,
                                                            kPortOff}));
        EXPECT_EQ(Root("Other Ports").children.size(), 3u);
        ExpandAll();
        Screenshot("device_tree");
    });
}

TEST_F(DeviceTree, ShowingUnavailableDevicesAddsAbsentOnesAndKeepsOpenBranchesAndSelection)
{
    Install(MixedLayout());
    RunTool([&] {
        Expand(Find({"KT Cards"}));
        Expand(ItemWithCode("KT Cards", 100));
        HTREEITEM port = ItemWithCode("KT Cards", 1001);
        Select(port);
        Click(IDC_SHOW_UNAVAILABLE);

        const TreeItem cards = Root("KT Cards");
        EXPECT_TRUE(cards.expanded);
        EXPECT_EQ(Codes(cards.children), (std::vector<int>{100, 101, 102, 103, 104}));
        EXPECT_EQ(cards.Child(3).image, kCardAbsent);
        EXPECT_EQ(Images(cards.Child(3).children), (std::vector<int>{kPortAbsent, kPortAbsent, kPortAbsent}));
        EXPECT_TRUE(cards.Child(0).expanded);
        EXPECT_FALSE(cards.Child(1).expanded);
        EXPECT_EQ(Root("KT Ports").children.size(), 15u);
        EXPECT_EQ(Selected(), ItemWithCode("KT Cards", 1001));
        EXPECT_EQ(DropHighlighted(), Selected());

        // A selection under "KT Ports" is found there again.
        Expand(Find({"KT Ports"}));
        Select(ItemWithCode("KT Ports", 1004));
        Click(IDC_SHOW_UNAVAILABLE);
        EXPECT_TRUE(Root("KT Ports").expanded);
        EXPECT_EQ(Root("KT Ports").children.size(), 12u);
        EXPECT_EQ(Selected(), ItemWithCode("KT Ports", 1004));
    });
}

TEST_F(DeviceTree, ButtonsFollowTheSelection)
{
    Install(MixedLayout());
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        EXPECT_TRUE(Visible(IDC_ENABLE_DISABLE));
        EXPECT_EQ(Text(IDC_ENABLE_DISABLE), "Disable Card");
        EXPECT_TRUE(Checked(IDC_ENABLE_DISABLE));
        Select(ItemWithCode("KT Cards", 1002));
        EXPECT_EQ(Text(IDC_ENABLE_DISABLE), "Enable Port");
        EXPECT_FALSE(Checked(IDC_ENABLE_DISABLE));
        // Not switchable: a card in error, a port of a disabled card, a port in error.
        for (int code : {102, 1003, 1001}) {
            Select(ItemWithCode("KT Cards", code));
            EXPECT_FALSE(Visible(IDC_ENABLE_DISABLE)) << code;
            EXPECT_TRUE(Visible(IDC_PROPERTIES)) << code;
            EXPECT_TRUE(Visible(IDC_REMOVE)) << code;
        }
        for (HTREEITEM item : {Find({"KT Cards"}), Find({"Other Ports", "COM1"})}) {
            Select(item);
            EXPECT_FALSE(Visible(IDC_ENABLE_DISABLE));
            EXPECT_FALSE(Visible(IDC_PROPERTIES));
            EXPECT_FALSE(Visible(IDC_REMOVE));
        }
    });
}

TEST_F(DeviceTree, DisablingACardGreysItsPortsWithoutTouchingTheirOwnState)
{
    cardsim::Layout layout;
    layout.serialPerCard = 2;
    layout.disabledPorts = {{1, 2}};
    Install(layout);
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_ENABLE_DISABLE);
        EXPECT_EQ(Text(IDC_ENABLE_DISABLE), "Enable Card");
        EXPECT_EQ(Root("KT Cards").Child(0).image, kCardOff);
        EXPECT_EQ(Images(Root("KT Cards").Child(0).children), (std::vector<int>{kPortOff, kPortOff, kPortOff}));
        EXPECT_EQ(Images(Root("KT Ports").children), (std::vector<int>{kPortOff, kPortOff, kPortOff, kPort, kPort, kPort}));
        EXPECT_EQ(CardList[0].enabled, 0);
        EXPECT_EQ(CardList[0].modified, 1);
        EXPECT_EQ(PortList[0].enabled, 1);
        EXPECT_EQ(PortList[0].modified, 0);

        Click(IDC_ENABLE_DISABLE);
        EXPECT_EQ(Images(Root("KT Cards").Child(0).children), (std::vector<int>{kPort, kPortOff, kPort}));
        EXPECT_EQ(CardList[0].modified, 0);
    });
}

TEST_F(DeviceTree, SpaceAndTheContextMenuSwitchDevicesToo)
{
    Install();
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 1000));
        KeyInTree(VK_SPACE);
        EXPECT_EQ(PortList[0].enabled, 0);
        EXPECT_EQ(Text(IDC_ENABLE_DISABLE), "Enable Port");
        EXPECT_EQ(Root("KT Ports").Child(0).image, kPortOff);

        Expand(Find({"KT Cards"}));
        HTREEITEM card = ItemWithCode("KT Cards", 101);
        ContextMenu(card, 2);  // Disable
        EXPECT_EQ(CardList[1].enabled, 0);
        EXPECT_EQ(Root("KT Cards").Child(1).image, kCardOff);
        ContextMenu(card, 1);  // Enable
        EXPECT_EQ(CardList[1].enabled, 1);
        EXPECT_EQ(CardList[1].modified, 0);
        ContextMenu(card, 1);  // Enable, while enabled: nothing changes
        EXPECT_EQ(CardList[1].modified, 0);
        ContextMenu(card, 3);  // Delete
        EXPECT_EQ(CardList[1].remove, 1);
        EXPECT_EQ(Root("KT Cards").children.size(), 1u);
    });
}

TEST_F(DeviceTree, RemovingACardTakesItsPortsOutOfBothBranches)
{
    Install();
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_REMOVE);
        EXPECT_EQ(Codes(Root("KT Cards").children), std::vector<int>{101});
        EXPECT_EQ(Codes(Root("KT Ports").children), (std::vector<int>{1005, 1006, 1007, 1008, 1009}));
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(PortList[i].remove, 1);
            EXPECT_EQ(PortList[i].enabled, 0);
        }
        // A port on its own leaves both branches.
        Select(ItemWithCode("KT Ports", 1006));
        KeyInTree(VK_DELETE);
        EXPECT_EQ(Codes(Root("KT Ports").children), (std::vector<int>{1005, 1007, 1008, 1009}));
        EXPECT_EQ(Root("KT Cards").Child(0).children.size(), 4u);
    });
}

TEST_F(DeviceTree, PlusAndMinusExpandAndCollapseAndDoubleClickOpensProperties)
{
    Install();
    FakePropertySheet(0);
    RunTool([&] {
        Select(Find({"KT Cards"}));
        CharInTree('+');
        EXPECT_TRUE(Root("KT Cards").expanded);
        CharInTree('-');
        EXPECT_FALSE(Root("KT Cards").expanded);
        // The tree never sees a double-click: a root does not open or close, and has no sheet.
        PostMessageA(tree, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
        Sync();
        EXPECT_FALSE(Root("KT Cards").expanded);
        EXPECT_EQ(sheetOpenedFor, 0);
        Select(ItemWithCode("KT Ports", 1002));
        PostMessageA(tree, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
        Sync();
        EXPECT_EQ(sheetOpenedFor, 1002);
    });
}

// The first access fault inside the guard page, seen before anyone may swallow it.
BYTE* guardPage;
std::atomic<bool> guardPageTouched{false};

LONG CALLBACK NoteGuardPageFault(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
        auto* address = reinterpret_cast<BYTE*>(record.ExceptionInformation[1]);
        if (guardPage && address >= guardPage && address < guardPage + 4096) guardPageTouched = true;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Notifications other than the selection changes may be a bare header: nothing beyond it is read.
TEST_F(DeviceTree, ANotificationThatIsOnlyAHeaderIsReadNoFurther)
{
    Install();
    RunTool([&] {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const DWORD page = system.dwPageSize;
        auto* memory = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        ASSERT_NE(memory, nullptr);
        DWORD old = 0;
        ASSERT_TRUE(VirtualProtect(memory + page, page, PAGE_NOACCESS, &old));
        auto* header = reinterpret_cast<NMHDR*>(memory + page - sizeof(NMHDR));  // the next byte faults
        *header = NMHDR{tree, IDC_TREE, static_cast<UINT>(NM_SETFOCUS)};
        guardPage = memory + page;
        guardPageTouched = false;
        void* handler = AddVectoredExceptionHandler(1, NoteGuardPageFault);
        SendMessageA(window, WM_NOTIFY, IDC_TREE, reinterpret_cast<LPARAM>(header));
        Sync();
        RemoveVectoredExceptionHandler(handler);
        EXPECT_FALSE(guardPageTouched) << "the notification was read beyond its header";
        EXPECT_TRUE(WindowOpen());
        guardPage = nullptr;
        VirtualFree(memory, 0, MEM_RELEASE);
    });
}

}  // namespace
