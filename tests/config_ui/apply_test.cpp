// OK, Cancel and "Restart Drivers": what is written and which services are restarted.
#include <gtest/gtest.h>

#include <algorithm>

#include "data/autorun.h"
#include "data/inventory.h"
#include "data/service_control.h"
#include "standin.h"
#include "tool_harness.h"

namespace {

using Events = std::vector<std::string>;

const Events kPortServicesRestarted = {"stop ktsnt", "start ktsnt", "stop ktpptnt", "start ktpptnt",
                                       "stop ktpnt", "start ktpnt"};
const Events kEnumeratorRestarted = {"stop ktpnt",  "stop ktpptnt", "stop ktsnt",    "stop ktcnt",
                                     "start ktcnt", "start ktsnt",  "start ktpptnt", "start ktpnt"};

DWORD FlagsOf(const std::string& path)
{
    return cardsim::ReadDword(HKEY_LOCAL_MACHINE, path, "Flags");
}

bool Exists(const std::string& path)
{
    return cardsim::KeyExists(HKEY_LOCAL_MACHINE, path);
}

class Apply : public ToolHarness {
protected:
    void SetUp() override
    {
        ToolHarness::SetUp();
        installation = Install();
        RegisterServices();
    }
    std::string CardPath(int c) const { return cardsim::CardPath(installation.cards[c]); }
    cardsim::Installation installation;
};

TEST_F(Apply, OkWithoutChangesRestartsThePortServicesAndCloses)
{
    RunTool([&] {
        standin::ClearLog();
        Click(IDOK);
        EXPECT_TRUE(WaitUntilClosed());
    });
    EXPECT_EQ(standin::Log(), kPortServicesRestarted);
}

TEST_F(Apply, SwitchingADeviceOffAndOnAgainWritesNothing)
{
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_ENABLE_DISABLE);
        Click(IDC_ENABLE_DISABLE);
        standin::ClearLog();
        Click(IDOK);
    });
    EXPECT_EQ(FlagsOf(CardPath(0)), cardsim::kActive);
    EXPECT_EQ(standin::Log(), kPortServicesRestarted);
}

TEST_F(Apply, OkWritesTheEnableStatesAndOptions)
{
    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "InstallPath", "C:\\Q"), ERROR_SUCCESS);
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 101));
        Click(IDC_ENABLE_DISABLE);
        Select(ItemWithCode("KT Cards", 1002));
        Click(IDC_ENABLE_DISABLE);
        Click(IDC_AUTORUN);
        Click(IDC_STOP_UNUSED);
        Click(IDC_STOP_UNUSED);  // twice: no change
        Click(IDOK);
        EXPECT_TRUE(WaitUntilClosed());
    });
    EXPECT_EQ(FlagsOf(CardPath(1)), cardsim::kActive & ~cardsim::kEnabled);
    EXPECT_EQ(FlagsOf(cardsim::PortPath(installation.cards[0], installation.cards[0].ports[2])),
              cardsim::kActive & ~cardsim::kEnabled);
    EXPECT_EQ(IsAutorunSet(), 1);
    EXPECT_EQ(GetStopUnusedServices(), 0);
    EXPECT_TRUE(Boxes().empty());
    MakeAutorun(0);
    cardsim::DeleteTree(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath);
}

TEST_F(Apply, OkAfterARemovalRestartsTheEnumeratorAndDeletesTheKeys)
{
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_REMOVE);
        standin::ClearLog();
        Click(IDOK);
    });
    EXPECT_FALSE(Exists(CardPath(0)));
    EXPECT_TRUE(Exists(CardPath(1)));
    Events expected = kEnumeratorRestarted;
    expected.insert(expected.end(), kPortServicesRestarted.begin(), kPortServicesRestarted.end());
    EXPECT_EQ(standin::Log(), expected);
}

TEST_F(Apply, EnterInTheTreeOpensPropertiesInsteadOfClosing)
{
    FakePropertySheet(0);
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 101));
        KeyInTree(VK_RETURN);
        EXPECT_TRUE(WindowOpen());
        EXPECT_EQ(sheetOpenedFor, 101);
    });
}

TEST_F(Apply, ASheetAskingForARebootKeepsTheWindowOpenAtEveryOk)
{
    FakePropertySheet(8);
    boxes.SetAnswer(IDNO);
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 1000));
        Click(IDC_ENABLE_DISABLE);
        Click(IDC_PROPERTIES);
        standin::ClearLog();
        Click(IDOK);
        WaitForBoxes(1);
        EXPECT_TRUE(WindowOpen());
        EXPECT_EQ(FlagsOf(cardsim::PortPath(installation.cards[0], installation.cards[0].ports[0])),
                  cardsim::kActive & ~cardsim::kEnabled);
        Click(IDOK);
        WaitForBoxes(2);
        EXPECT_TRUE(WindowOpen());
        Click(IDCANCEL);
        EXPECT_TRUE(WaitUntilClosed());
    });
    EXPECT_EQ(Boxes(), (std::vector<std::string>(2, "Your computer needs to be rebooted.\nReboot now ?")));
    EXPECT_EQ(boxes.Boxes()[0].icon, guiauto::BoxIcon::Warning);
    EXPECT_TRUE(standin::Log().empty());
}

int rebootRequests;

BOOL WINAPI CountRebootRequest(UINT, DWORD)
{
    ++rebootRequests;
    return TRUE;
}

TEST_F(Apply, YesToTheRebootQuestionAsksForTheReboot)
{
    rebootRequests = 0;
    RebootRequest = CountRebootRequest;
    FakePropertySheet(8);
    boxes.SetAnswer(IDYES);
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_PROPERTIES);
        Click(IDOK);
        WaitForBoxes(1);
        EXPECT_TRUE(WindowOpen());
    });
    RebootRequest = ExitWindowsEx;
    EXPECT_EQ(rebootRequests, 1);
}

TEST_F(Apply, CancelWritesNothingAndTouchesNoService)
{
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_REMOVE);
        standin::ClearLog();
        Click(IDCANCEL);
    });
    EXPECT_TRUE(Exists(CardPath(0)));
    EXPECT_TRUE(standin::Log().empty());
}

TEST_F(Apply, RestartDriversWritesRestartsRereadsAndKeepsTheTreeState)
{
    RunTool([&] {
        Expand(Find({"KT Cards"}));
        Select(ItemWithCode("KT Cards", 101));
        Click(IDC_ENABLE_DISABLE);
        standin::ClearLog();
        Click(IDC_RESTART_DRIVERS);
        EXPECT_EQ(standin::Log(), kEnumeratorRestarted);
        EXPECT_EQ(FlagsOf(CardPath(1)), cardsim::kActive & ~cardsim::kEnabled);
        EXPECT_EQ(CardList[1].modified, 0);  // reread
        EXPECT_TRUE(Root("KT Cards").expanded);
        EXPECT_EQ(Selected(), ItemWithCode("KT Cards", 101));
        EXPECT_EQ(Root("KT Cards").Child(1).image, kCardOff);

        // A driver that does not start again is said.
        ASSERT_EQ(standin::SetBehaviour(cardsim::kParMiniService, {0, 0, false, true}), 0u);
        Click(IDC_RESTART_DRIVERS);
        WaitForBoxes(1);
        EXPECT_EQ(Boxes(), std::vector<std::string>{"Using the service-manager failed"});
    });
    standin::SetBehaviour(cardsim::kParMiniService, {});
}

TEST_F(Apply, OkAgainAfterARemovalAndNoToTheRebootDoesNotDeleteTwice)
{
    FakePropertySheet(8);
    boxes.SetAnswer(IDNO);
    RunTool([&] {
        Select(ItemWithCode("KT Cards", 100));
        Click(IDC_PROPERTIES);
        Click(IDC_REMOVE);
        Click(IDOK);
        WaitForBoxes(1);
        Click(IDOK);
        WaitForBoxes(2);
        EXPECT_TRUE(WindowOpen());
    });
    EXPECT_FALSE(Exists(CardPath(0)));
    EXPECT_TRUE(Exists(CardPath(1)));
    // Only the reboot question, twice: no failed deletion or write of the removed keys.
    EXPECT_EQ(Boxes(), (std::vector<std::string>(2, "Your computer needs to be rebooted.\nReboot now ?")));
}

TEST_F(Apply, FailuresOfTheOptionsAndTheServiceManagerAreEachSaid)
{
    standin::Remove(cardsim::kParService);
    RunTool([&] {
        Click(IDC_STOP_UNUSED);  // the product key does not exist
        Click(IDC_AUTORUN);      // nor its InstallPath
        Click(IDOK);
        EXPECT_TRUE(WaitUntilClosed());
    });
    EXPECT_EQ(Boxes(), (std::vector<std::string>{
                           "Key problem with HKEY_LOCAL_MACHINE\\Software\\Tervane\\Qarix : for meke autorun",
                           "Key problem with HKEY_LOCAL_MACHINE\\Software\\Tervane\\Qarix : for stopping unused services",
                           "Using the service-manager failed"}));
}

HWND toolWindow;
std::vector<bool> waitCursorAtPolls;

// Runs on the tool's thread between two looks at a service: as if the mouse moved over the tree.
void PollWithTheMouseOverTheTree()
{
    HWND tree = GetDlgItem(toolWindow, IDC_TREE);
    SendMessageA(tree, WM_SETCURSOR, reinterpret_cast<WPARAM>(tree), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    waitCursorAtPolls.push_back(GetCursor() == LoadCursor(nullptr, IDC_WAIT));
    Sleep(10);
}

TEST_F(Apply, TheWaitCursorStaysForTheWholeRestart)
{
    waitCursorAtPolls.clear();
    // The enumerator takes a while to start, so the restart certainly polls.
    ASSERT_EQ(standin::SetBehaviour(cardsim::kEnumService, {100, 0, false, false}), 0u);
    RunTool([&] {
        toolWindow = window;
        ServicePollPause = PollWithTheMouseOverTheTree;
        Click(IDC_RESTART_DRIVERS);
        ServicePollPause = [] {};
    });
    ASSERT_FALSE(waitCursorAtPolls.empty());
    EXPECT_EQ(std::count(waitCursorAtPolls.begin(), waitCursorAtPolls.end(), true),
              static_cast<long>(waitCursorAtPolls.size()));
}

}  // namespace
