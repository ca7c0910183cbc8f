// The tool's start: single instance, wait window around the service restart, inventory, window.
#include <gtest/gtest.h>

#include "data/inventory.h"
#include "data/service_control.h"
#include "guiauto.h"
#include "standin.h"
#include "tool_harness.h"

namespace {

HWND WaitWindow()
{
    for (HWND candidate : guiauto::ProcessWindows("#32770"))
        if (IsWindowVisible(candidate) && guiauto::WindowText(GetDlgItem(candidate, -1)) == "Please wait for services")
            return candidate;
    return nullptr;
}

// Runs during the start-up restart, on the tool's thread: notes whether the wait window is up,
// and plays the bus enumerator, whose cards only appear once the services have been restarted.
struct RestartProbe {
    static inline bool waitWindowSeen;
    static inline bool mainWindowSeen;
    static inline int polls;
    static void Pause()
    {
        if (polls++ == 0) guiauto::SaveScreenshot(WaitWindow(), guiauto::ScreenshotDir() + "\\wait_window.png");
        waitWindowSeen |= WaitWindow() != nullptr;
        mainWindowSeen |= !guiauto::ProcessWindows("#32770", "KTCfgNt V4.11").empty();
        cardsim::Layout layout;
        layout.cards = 1;
        if (polls == 1) cardsim::Write(cardsim::BuildInstallation(layout));
        Sleep(10);
    }
};

class Startup : public ToolHarness {};

TEST_F(Startup, WaitWindowCoversTheServiceRestartWhichComesBeforeTheInventory)
{
    cardsim::Layout noCards;
    noCards.cards = 0;
    Install(noCards);
    RegisterServices();
    // The enumerator takes a while to start, so the restart certainly pauses between its polls.
    ASSERT_EQ(standin::SetBehaviour(cardsim::kEnumService, {100, 0, false, false}), 0u);
    RestartProbe::waitWindowSeen = RestartProbe::mainWindowSeen = false;
    RestartProbe::polls = 0;
    ServicePollPause = RestartProbe::Pause;
    RunTool([&] {
        EXPECT_EQ(WaitWindow(), nullptr);
        // The card written during the restart is listed: the inventory was read afterwards.
        EXPECT_EQ(Root("KT Cards").children.size(), 1u);
        Screenshot("main_window");
    });
    EXPECT_TRUE(RestartProbe::waitWindowSeen);
    EXPECT_FALSE(RestartProbe::mainWindowSeen);
    EXPECT_EQ(standin::Log().size(), 8u);  // four stops, four starts
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Startup, NoCardsIsSaidOnceAndTheWindowOpensWithItsThreeRoots)
{
    cardsim::Layout noCards;
    noCards.cards = 0;
    Install(noCards);
    RunTool([&] {
        std::vector<std::string> roots;
        for (const TreeItem& root : Tree()) roots.push_back(root.text);
        EXPECT_EQ(roots, (std::vector<std::string>{"Other Ports", "KT Ports", "KT Cards"}));
        EXPECT_TRUE(Root("KT Cards").children.empty());
        EXPECT_TRUE(Root("KT Ports").children.empty());
        EXPECT_EQ(Root("Other Ports").children.size(), 3u);
        for (const TreeItem& root : Tree()) EXPECT_FALSE(root.expanded);
        // "KT Ports" carries the drop highlight until something is selected (focusing the tree
        // selects its first item); then it follows the selection.
        EXPECT_EQ(DropHighlighted(), Selected() ? Selected() : Find({"KT Ports"}));
        for (int id : {IDC_ENABLE_DISABLE, IDC_PROPERTIES, IDC_REMOVE}) EXPECT_FALSE(Visible(id));
    });
    EXPECT_EQ(Boxes(), std::vector<std::string>{"No KTCards found"});
}

TEST_F(Startup, AStartAfterTheWindowClosedWorksAgain)
{
    Install();
    RunTool([&] { Command(IDCANCEL); });
    EXPECT_EQ(GlobalFindAtomA("KTCFGAtom"), 0);
    bool opened = false;
    RunTool([&] { opened = WindowOpen(); });
    EXPECT_TRUE(opened);
}

TEST_F(Startup, OptionBoxesShowTheStoredSettings)
{
    Install();
    ASSERT_EQ(cardsim::SetDword(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "StopUnusedServices", 1), ERROR_SUCCESS);
    RunTool([&] {
        EXPECT_TRUE(Checked(IDC_STOP_UNUSED));
        EXPECT_FALSE(Checked(IDC_AUTORUN));
        EXPECT_FALSE(Checked(IDC_SHOW_UNAVAILABLE));
    });
    cardsim::DeleteTree(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath);
}

}  // namespace
