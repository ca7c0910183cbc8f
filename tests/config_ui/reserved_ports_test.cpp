// The reserved ports dialog: the runs it lists, typed numbers and ranges, Remove, Enter, OK and
// Cancel; and the runs and typed ranges themselves.
#include <gtest/gtest.h>

#include <cstring>

#include "data/port_maps.h"
#include "tool_harness.h"
#include "ui/port_ranges.h"
#include "ui/reserved_ports.h"

namespace {

std::vector<uint8_t> MapOf(std::initializer_list<int> numbers)
{
    std::vector<uint8_t> map(kPortMapBytes, 0);
    for (int n : numbers) ReservePort(map.data(), n);
    return map;
}

std::vector<std::string> Lines(const uint8_t* map, const char* prefix)
{
    PortRun runs[kMaxPortRuns];
    const int count = ReservedRuns(map, runs);
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        char text[32];
        LineText(prefix, runs[i], text, sizeof text);
        lines.push_back(text + std::string("=") + std::to_string(LineValue(runs[i])));
    }
    return lines;
}

TEST(PortRanges, RunsAreMaximalAndCarryTheirLineValues)
{
    EXPECT_TRUE(Lines(MapOf({}).data(), "COM").empty());
    EXPECT_EQ(Lines(MapOf({1, 2, 3, 5}).data(), "COM"), (std::vector<std::string>{"COM1 - COM3=1003", "COM5=5"}));
    EXPECT_EQ(Lines(MapOf({8, 9, 255, 256}).data(), "LPT"),
              (std::vector<std::string>{"LPT8 - LPT9=8009", "LPT255 - LPT256=255256"}));
    std::vector<uint8_t> all(kPortMapBytes, 0xFF);
    EXPECT_EQ(Lines(all.data(), "COM"), (std::vector<std::string>{"COM1 - COM256=1256"}));
    std::vector<uint8_t> every(kPortMapBytes, 0x55);  // 1, 3, 5, ... 255: the most runs there can be
    PortRun runs[kMaxPortRuns];
    EXPECT_EQ(ReservedRuns(every.data(), runs), kMaxPortRuns);
    EXPECT_EQ(runs[kMaxPortRuns - 1].first, 255);
}

TEST(PortRanges, TypedTextReadsLikeDecimalNumbersWithoutOverflow)
{
    auto range = [](const char* text) {
        const PortRun run = ParseTypedRange(text);
        return std::make_pair(run.first, run.last);
    };
    EXPECT_EQ(range("4"), std::make_pair(4, 4));
    EXPECT_EQ(range("  12abc"), std::make_pair(12, 12));
    EXPECT_EQ(range("+3"), std::make_pair(3, 3));
    EXPECT_EQ(range("3-7"), std::make_pair(3, 7));
    EXPECT_EQ(range(" 3 - 7 "), std::make_pair(3, 7));
    EXPECT_EQ(range("7-3"), std::make_pair(7, 3));
    EXPECT_EQ(range("abc"), std::make_pair(0, 0));
    EXPECT_EQ(range(""), std::make_pair(0, 0));
    EXPECT_EQ(range("-5"), std::make_pair(0, 5));   // nothing before the hyphen
    EXPECT_EQ(range("5-"), std::make_pair(5, 0));
    EXPECT_EQ(range("5--3"), std::make_pair(5, -3));
    EXPECT_EQ(range("99999999999999999999"), std::make_pair(INT_MAX, INT_MAX));
    EXPECT_EQ(range("250-99999999999999999999").second, INT_MAX);
}

TEST(PortRanges, RangesAreCutToTheMapAndLinesReleaseTheirNumbers)
{
    std::vector<uint8_t> map = MapOf({});
    ApplyRange(map.data(), {250, 300}, true);
    ApplyRange(map.data(), {-5, 2}, true);
    ApplyRange(map.data(), {7, 3}, true);  // nothing
    ApplyRange(map.data(), {INT_MAX, INT_MAX}, true);
    EXPECT_EQ(Lines(map.data(), "LPT"), (std::vector<std::string>{"LPT1 - LPT2=1002", "LPT250 - LPT256=250256"}));
    ApplyRange(map.data(), {251, INT_MAX}, false);
    ReleaseLine(map.data(), 1002);
    EXPECT_EQ(map, MapOf({250}));
    ReleaseLine(map.data(), 250);
    EXPECT_EQ(map, MapOf({}));
}

// The dialog, opened from the main window's "PortMap".
class ReservedPorts : public ToolHarness {
protected:
    void SetUp() override
    {
        ToolHarness::SetUp();
        cardsim::Installation installation = cardsim::BuildInstallation({});
        installation.comPortMap = MapOf({1, 2, 3, 5});
        installation.lptPortMap = MapOf({1});
        Install(installation);
    }

    HWND Open()
    {
        Command(IDC_PORT_MAP);
        HWND found = guiauto::WaitForWindow("#32770", "KTCfgNt", 10000);
        EXPECT_NE(found, nullptr) << "the reserved ports dialog did not open";
        if (found) guiauto::Flush(found);
        return found;
    }
    std::vector<std::string> List(HWND dialog, int id) const
    {
        std::vector<std::string> lines;
        HWND list = GetDlgItem(dialog, id);
        const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[32] = {};
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            lines.push_back(text);
        }
        return lines;
    }
    static void Type(HWND dialog, int edit, const char* text)
    {
        SetDlgItemTextA(dialog, edit, text);
    }
    static void Press(HWND dialog, int id)
    {
        guiauto::Click(dialog, id);
        guiauto::Flush(dialog);
    }
    // Enter with the focus in the given control.
    static void EnterIn(HWND dialog, int id)
    {
        HWND control = GetDlgItem(dialog, id);
        PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        guiauto::Flush(dialog);
        guiauto::PostKey(control, VK_RETURN);
        guiauto::Flush(dialog);
    }
    // Presses id (or Enter in the control id) and waits until the dialog is gone and the main
    // window is back.
    void CloseWith(HWND dialog, int id, bool enter = false)
    {
        if (enter)
            EnterIn(dialog, id);
        else
            guiauto::Click(dialog, id);
        EXPECT_TRUE(guiauto::WaitUntil([&] { return !IsWindow(dialog); }, 5000)) << "the dialog stayed open";
        EXPECT_TRUE(guiauto::WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000))
            << "the main window did not come back";
        Sync();
    }
    static std::vector<uint8_t> Stored(const char* name)
    {
        HKEY key;
        std::vector<uint8_t> data(64);
        DWORD bytes = static_cast<DWORD>(data.size());
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
        const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &bytes);
        RegCloseKey(key);
        data.resize(rc == ERROR_SUCCESS ? bytes : 0);
        return data;
    }
    static std::vector<uint8_t> InMemory(const uint8_t* map) { return {map, map + kPortMapBytes}; }
};

TEST_F(ReservedPorts, AddingJoinsRunsEnterInABoxAddsAndOkElsewhereSaves)
{
    RunTool([&] {
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsWindowVisible(window));  // the main window is hidden meanwhile
        std::vector<int> tabOrder;
        HWND control = GetDlgItem(dialog, IDOK);
        for (int i = 0; i < 10 && control; ++i, control = GetNextDlgTabItem(dialog, control, FALSE))
            tabOrder.push_back(GetDlgCtrlID(control));
        EXPECT_EQ(tabOrder, (std::vector<int>{IDOK, IDCANCEL, IDC_COM_LIST, IDC_LPT_LIST, IDC_COM_EDIT, IDC_LPT_EDIT,
                                              IDC_COM_ADD, IDC_COM_REMOVE, IDC_LPT_ADD, IDC_LPT_REMOVE}));
        EXPECT_EQ(List(dialog, IDC_COM_LIST), (std::vector<std::string>{"COM1 - COM3", "COM5"}));
        EXPECT_EQ(List(dialog, IDC_LPT_LIST), (std::vector<std::string>{"LPT1"}));

        Type(dialog, IDC_COM_EDIT, "4");
        Press(dialog, IDC_COM_ADD);
        EXPECT_EQ(List(dialog, IDC_COM_LIST), (std::vector<std::string>{"COM1 - COM5"}));
        EXPECT_EQ(guiauto::WindowText(GetDlgItem(dialog, IDC_COM_EDIT)), "");

        Type(dialog, IDC_COM_EDIT, "7-3");  // clears the box, changes nothing
        Press(dialog, IDC_COM_ADD);
        EXPECT_EQ(guiauto::WindowText(GetDlgItem(dialog, IDC_COM_EDIT)), "");
        Type(dialog, IDC_COM_EDIT, "x");    // not a number: stays in the box
        Press(dialog, IDC_COM_ADD);
        EXPECT_EQ(guiauto::WindowText(GetDlgItem(dialog, IDC_COM_EDIT)), "x");
        EXPECT_EQ(List(dialog, IDC_COM_LIST), (std::vector<std::string>{"COM1 - COM5"}));

        Type(dialog, IDC_LPT_EDIT, "250-300");
        EnterIn(dialog, IDC_LPT_EDIT);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(List(dialog, IDC_LPT_LIST), (std::vector<std::string>{"LPT1", "LPT250 - LPT256"}));
        EXPECT_TRUE(Stored("LPTPortMap") == MapOf({1}));  // nothing written yet
        Type(dialog, IDC_COM_EDIT, "7");
        EnterIn(dialog, IDC_COM_EDIT);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(List(dialog, IDC_COM_LIST), (std::vector<std::string>{"COM1 - COM5", "COM7"}));

        guiauto::WaitUntilPainted(dialog);
        guiauto::SaveScreenshot(dialog, guiauto::ScreenshotDir() + "\\reserved_ports.png");
        CloseWith(dialog, IDC_COM_LIST, true);
    });
    EXPECT_EQ(Stored("COMPortMap"), MapOf({1, 2, 3, 4, 5, 7}));
    EXPECT_EQ(Stored("LPTPortMap"), MapOf({1, 250, 251, 252, 253, 254, 255, 256}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ReservedPorts, RemoveTakesTheSelectedLineOrElseTheTypedNumbersAndCancelUndoesAll)
{
    RunTool([&] {
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        SendDlgItemMessageA(dialog, IDC_COM_LIST, LB_SETCURSEL, 0, 0);
        Press(dialog, IDC_COM_REMOVE);
        EXPECT_EQ(List(dialog, IDC_COM_LIST), (std::vector<std::string>{"COM5"}));
        EXPECT_EQ(InMemory(ComPortMap), MapOf({5}));

        Type(dialog, IDC_COM_EDIT, "5");  // no line selected now: the typed number goes
        SendDlgItemMessageA(dialog, IDC_COM_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        Press(dialog, IDC_COM_REMOVE);
        EXPECT_TRUE(List(dialog, IDC_COM_LIST).empty());
        Type(dialog, IDC_LPT_EDIT, "1");
        Press(dialog, IDC_LPT_REMOVE);
        EXPECT_TRUE(List(dialog, IDC_LPT_LIST).empty());

        CloseWith(dialog, IDCANCEL);
        // Cancel: what a later "Restart Drivers" or OK would write is the map as it was.
        EXPECT_EQ(InMemory(ComPortMap), MapOf({1, 2, 3, 5}));
        EXPECT_EQ(InMemory(LptPortMap), MapOf({1}));
        Click(IDC_RESTART_DRIVERS);
    });
    EXPECT_EQ(Stored("COMPortMap"), MapOf({1, 2, 3, 5}));
    EXPECT_EQ(Stored("LPTPortMap"), MapOf({1}));
}

TEST_F(ReservedPorts, TheMessageOfTheBoxesChoosesTheMapByItsParameters)
{
    RunTool([&] {
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        HWND comEdit = GetDlgItem(dialog, IDC_COM_EDIT);
        SendDlgItemMessageA(dialog, IDC_LPT_LIST, LB_SETCURSEL, 0, 0);
        Type(dialog, IDC_COM_EDIT, "9");
        // The parameter chooses the map and its own box is read: the LPT box is empty, nothing changes.
        SendMessageA(comEdit, kApplyTypedMessage, kLptMap, kAddMode);
        EXPECT_EQ(InMemory(LptPortMap), MapOf({1}));
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_LPT_LIST, LB_GETCURSEL, 0, 0), LB_ERR);  // selection dropped
        SendMessageA(comEdit, kApplyTypedMessage, kComMap, kAddMode);
        EXPECT_EQ(InMemory(ComPortMap), MapOf({1, 2, 3, 5, 9}));
        Type(dialog, IDC_COM_EDIT, "1-3");
        SendMessageA(comEdit, kApplyTypedMessage, kComMap, 7);  // any mode but 2 removes
        EXPECT_EQ(InMemory(ComPortMap), MapOf({5, 9}));
        EXPECT_EQ(SendMessageA(comEdit, WM_GETTEXTLENGTH, 0, 0), 0);  // other messages: the box's own handling
        CloseWith(dialog, IDCANCEL);

        // Opening reads the maps again: what another program stored meanwhile is shown.
        cardsim::SetBinary(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, "COMPortMap", MapOf({8}));
        dialog = Open();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(List(dialog, IDC_COM_LIST), (std::vector<std::string>{"COM8"}));
        CloseWith(dialog, IDCANCEL);
    });
}

}  // namespace
