// The automation helper that every GUI test relies on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "guiauto.h"

namespace {

TEST(GuiAuto, CatcherRecordsTextAndIconAndGivesTheChosenAnswer)
{
    guiauto::MessageBoxCatcher boxes("probe", IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Reboot now ?", "probe", MB_YESNO | MB_ICONQUESTION), IDNO);
    boxes.SetAnswer(IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "plain", "probe", MB_OK), IDOK);
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Reboot now ?");
    EXPECT_EQ(shown[0].icon, guiauto::BoxIcon::Question);
    EXPECT_EQ(shown[1].icon, guiauto::BoxIcon::None);

    // A sequence: each box its answer, the last one for every box after it.
    boxes.SetAnswers({IDYES, IDNO});
    EXPECT_EQ(MessageBoxA(nullptr, "first", "probe", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "second", "probe", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "third", "probe", MB_YESNO), IDNO);
}

// Each posted message takes a while to handle. Flush returns only after all of them; a message
// sent from another thread would have been handled after the first.
int slowMessagesHandled;

LRESULT CALLBACK SlowWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
    Sleep(100);
    ++slowMessagesHandled;
    return 0;
}

TEST(GuiAuto, FlushWaitsUntilWhatWasPostedBeforeHasBeenHandled)
{
    slowMessagesHandled = 0;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SlowWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "guiauto flush probe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    bool flushed = false;
    int handledAtReturn = -1;
    std::thread driver([&] {
        for (int i = 0; i < 3; ++i) PostMessageA(window, WM_APP, 0, 0);
        flushed = guiauto::Flush(window, 5000);
        handledAtReturn = slowMessagesHandled;
        PostMessageA(window, WM_APP + 1, 0, 0);
    });
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message != WM_APP + 1) DispatchMessageA(&message);
    driver.join();
    DestroyWindow(window);
    EXPECT_TRUE(flushed);
    EXPECT_EQ(handledAtReturn, 3);
}

TEST(GuiAuto, WatchdogEndsAModalLoopNobodyAnswers)
{
    guiauto::Watchdog watchdog(300);
    MessageBoxA(nullptr, "nobody answers", "stuck", MB_OK);
    EXPECT_TRUE(watchdog.fired());
}

std::string LastWordsFile()
{
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    return std::string(directory) + "guiauto_last_words";
}

// A test whose window belongs to a thread that no longer takes messages cannot be closed: the
// watchdog ends its program, after its last words, instead of leaving it hanging.
TEST(GuiAuto, WatchdogEndsAProgramWhoseWindowsCannotBeClosed)
{
    if (std::getenv("GUIAUTO_HANGING_CHILD")) {
        guiauto::Watchdog watchdog(200, [] { std::fclose(std::fopen(LastWordsFile().c_str(), "w")); }, 500);
        std::thread([] {
            CreateWindowA("STATIC", "stuck", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
            Sleep(INFINITE);
        }).detach();
        Sleep(30000);
        return;  // not reached
    }
    DeleteFileA(LastWordsFile().c_str());
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string command = std::string("\"") + program +
                          "\" --gtest_filter=GuiAuto.WatchdogEndsAProgramWhoseWindowsCannotBeClosed";
    SetEnvironmentVariableA("GUIAUTO_HANGING_CHILD", "1");
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableA("GUIAUTO_HANGING_CHILD", nullptr);
    ASSERT_TRUE(started);
    const DWORD waited = WaitForSingleObject(child.hProcess, 20000);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 99);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the program was left hanging";
    EXPECT_EQ(exitCode, 3u);
    EXPECT_TRUE(DeleteFileA(LastWordsFile().c_str())) << "no last words";
}

TEST(GuiAuto, ScreenshotOfAWindowIsAPngOfItsSize)
{
    HWND window = CreateWindowA("STATIC", "shot", WS_POPUP | WS_VISIBLE | WS_BORDER, 10, 10, 120, 80,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    UpdateWindow(window);
    const std::string path = guiauto::ScreenshotDir() + "\\guiauto_probe.png";
    ASSERT_TRUE(guiauto::SaveScreenshot(window, path));
    DestroyWindow(window);

    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::vector<unsigned char> head(24);
    ASSERT_EQ(std::fread(head.data(), 1, head.size(), file), head.size());
    std::fclose(file);
    std::remove(path.c_str());
    EXPECT_EQ(head[0], 0x89);
    EXPECT_EQ(head[1], 'P');
    EXPECT_EQ((head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19], 120);  // width
    EXPECT_EQ((head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23], 80);   // height
}

}  // namespace
