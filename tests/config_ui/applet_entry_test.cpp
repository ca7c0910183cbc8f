// The Control Panel protocol and the single-instance guard across processes.
#include <windows.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "guiauto.h"
#include "import_hook.h"
#include "tool_harness.h"
#include "ui/applet.h"

namespace {

DWORD RunProgram(const std::string& commandLine, DWORD timeoutMs, HANDLE* keep = nullptr)
{
    std::string command = commandLine;
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    CloseHandle(process.hThread);
    if (keep) {
        *keep = process.hProcess;
        return 0;
    }
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    else TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    return code;
}

// A program started by a test ends with the test, also when the test fails half-way.
class EndsWithTheTest {
public:
    explicit EndsWithTheTest(HANDLE process) : process_(process) {}
    ~EndsWithTheTest()
    {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
    EndsWithTheTest(const EndsWithTheTest&) = delete;
    EndsWithTheTest& operator=(const EndsWithTheTest&) = delete;

private:
    HANDLE process_;
};

class AppletEntry : public ToolHarness {};

TEST_F(AppletEntry, ControlPanelMessages)
{
    EXPECT_EQ(CPlApplet(nullptr, CPL_INIT, 0, 0), 1);
    EXPECT_EQ(CPlApplet(nullptr, CPL_GETCOUNT, 0, 0), 1);
    CPLINFO info = {-1, -1, -1, -1};
    EXPECT_EQ(CPlApplet(nullptr, CPL_INQUIRE, 1, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon, -1);  // only applet 0 exists
    EXPECT_EQ(CPlApplet(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon, 111);
    EXPECT_EQ(info.idName, 2);
    EXPECT_EQ(info.idInfo, 1);
    EXPECT_EQ(info.lData, 0);
    NEWCPLINFOA newInfo = {};
    EXPECT_EQ(CPlApplet(nullptr, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&newInfo)), 0);
    EXPECT_EQ(newInfo.dwSize, 0u);
    for (UINT message : {CPL_SELECT, CPL_STOP, CPL_EXIT}) EXPECT_EQ(CPlApplet(nullptr, message, 0, 0), 0);
}

TEST_F(AppletEntry, DoubleClickOpensTheToolWhateverTheIndex)
{
    Install();
    guiauto::Watchdog watchdog(60000);
    bool opened = false;
    std::thread driver([&] {
        HWND window = guiauto::WaitForWindow("#32770", "KTCfgNt V4.11", 30000);
        opened = window != nullptr;
        if (window) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(CPlApplet(nullptr, CPL_DBLCLK, 5, 0), 0);
    driver.join();
    EXPECT_TRUE(opened);
}

TEST_F(AppletEntry, SecondStartInAnotherProcessReturnsAtOnceAndRaisesTheOpenWindow)
{
    Install();
    RunTool([&] {
        // Something else in front first.
        HWND other = CreateWindowA("STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        SetForegroundWindow(other);
        const DWORD started = GetTickCount();
        EXPECT_EQ(RunProgram(std::string("\"") + SECOND_START_PATH + "\" \"" + KTCFG_PATH + "\"", 20000), 0u);
        EXPECT_LT(GetTickCount() - started, 5000u);
        EXPECT_TRUE(guiauto::WaitUntil([&] { return GetForegroundWindow() == window; }, 5000));
        EXPECT_EQ(guiauto::ProcessWindows("#32770", "KTCfgNt V4.11").size(), 1u);

        // With the reserved-ports dialog open the main window is hidden: the dialog comes forward.
        Command(IDC_PORT_MAP);
        HWND dialog = guiauto::WaitForWindow("#32770", "KTCfgNt", 10000);
        ASSERT_NE(dialog, nullptr);
        SetForegroundWindow(other);
        EXPECT_EQ(RunProgram(std::string("\"") + SECOND_START_PATH + "\" \"" + KTCFG_PATH + "\"", 20000), 0u);
        EXPECT_TRUE(guiauto::WaitUntil([&] { return GetForegroundWindow() == dialog; }, 5000));
        guiauto::Click(dialog, IDCANCEL);
        EXPECT_TRUE(guiauto::WaitUntil([&] { return !IsWindow(dialog); }, 5000));
        DestroyWindow(other);
    });
    EXPECT_EQ(GlobalFindAtomA("KTCFGAtom"), 0);
}

// A test program killed while the tool ran leaves the instance atom behind (with as many
// references as starts), and every later start would return at once. The next test clears it.
TEST_F(AppletEntry, LeftoverInstanceAtomIsClearedBeforeTheNextStart)
{
    Install();
    GlobalAddAtomA("KTCFGAtom");
    GlobalAddAtomA("KTCFGAtom");
    EXPECT_TRUE(ClearLeftovers());
    bool opened = false;
    RunTool([&] { opened = WindowOpen(); });
    EXPECT_TRUE(opened);
}

TEST_F(AppletEntry, AnInstanceThatWasKilledDoesNotBlockTheNextStart)
{
    Install();
    HANDLE first = nullptr;
    ASSERT_EQ(RunProgram(std::string("\"") + SECOND_START_PATH + "\" \"" + KTCFG_PATH + "\"", 0, &first), 0u);
    EndsWithTheTest firstEnds(first);
    ASSERT_TRUE(guiauto::WaitUntil([] { return FindWindowA("#32770", "KTCfgNt V4.11") != nullptr; }, 30000));
    TerminateProcess(first, 99);
    ASSERT_EQ(WaitForSingleObject(first, 10000), WAIT_OBJECT_0);
    EXPECT_NE(GlobalFindAtomA("KTCFGAtom"), 0);  // left behind by the killed instance
    bool opened = false;
    RunTool([&] { opened = WindowOpen(); });
    EXPECT_TRUE(opened);
}

TEST_F(AppletEntry, OfTwoStartsAtTheSameMomentOneRuns)
{
    Install();
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> ready{0}, done{0};
        bool taken[2] = {};
        auto start = [&](int which) {
            ++ready;
            while (ready < 2) {
            }
            taken[which] = TakeToolInstance();
            // A thread that ends while it holds the instance gives it up, as a process would: both
            // stay until both have tried.
            ++done;
            while (done < 2) {
            }
        };
        std::thread a(start, 0), b(start, 1);
        a.join();
        b.join();
        EXPECT_NE(taken[0], taken[1]) << "round " << round;
        ReleaseToolInstance();
        EXPECT_EQ(GlobalFindAtomA("KTCFGAtom"), 0);
    }
}

TEST_F(AppletEntry, WinesControlPanelLoadsTheAppletAndOpensTheWindow)
{
    Install();
    HANDLE control = nullptr;
    ASSERT_EQ(RunProgram(std::string("control.exe \"") + KTCFG_PATH + "\"", 0, &control), 0u);
    EndsWithTheTest controlEnds(control);
    HWND window = nullptr;
    guiauto::WaitUntil([&] { return (window = FindWindowA("#32770", "KTCfgNt V4.11")) != nullptr; }, 30000);
    ASSERT_NE(window, nullptr);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    EXPECT_EQ(pid, GetProcessId(control));
    guiauto::WaitUntilPainted(window);
    guiauto::SaveScreenshot(window, guiauto::ScreenshotDir() + "\\control_panel.png");
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitForSingleObject(control, 20000), WAIT_OBJECT_0);
}

using GetProcAddressFunction = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFunction realGetProcAddress;
int plainInitCalls;

// As on a system whose comctl32 predates InitCommonControlsEx (NT 4.0 as shipped).
FARPROC WINAPI LookupWithoutInitEx(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) && lstrcmpA(name, "InitCommonControlsEx") == 0) return nullptr;
    return realGetProcAddress(module, name);
}

void WINAPI CountedInitCommonControls()
{
    ++plainInitCalls;
}

TEST(ToolControls, InitCommonControlsOnlyWhereTheExtendedCallIsMissing)
{
    const HMODULE self = GetModuleHandleA(nullptr);
    void* realInit = HookImport(self, "comctl32.dll", "InitCommonControls", reinterpret_cast<void*>(CountedInitCommonControls));
    ASSERT_NE(realInit, nullptr);
    for (bool lookupFails : {false, true}) {
        plainInitCalls = 0;
        if (lookupFails)
            realGetProcAddress = reinterpret_cast<GetProcAddressFunction>(
                HookImport(self, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(LookupWithoutInitEx)));
        InitToolControls();
        if (lookupFails) HookImport(self, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(realGetProcAddress));
        EXPECT_EQ(plainInitCalls, lookupFails ? 1 : 0) << (lookupFails ? "lookup fails" : "lookup succeeds");
    }
    HookImport(self, "comctl32.dll", "InitCommonControls", realInit);
}

}  // namespace
