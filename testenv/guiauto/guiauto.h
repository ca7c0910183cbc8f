// In-process GUI automation for tests: the test drives the real dialogs of the code under test from
// a second thread of the same process. Anything that opens modal UI must be posted, not sent.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace guiauto {

// Top-level windows of this process, optionally filtered by class and caption (exact match).
std::vector<HWND> ProcessWindows(const char* className = nullptr, const char* caption = nullptr);

// Waits until such a window exists; nullptr after timeoutMs.
HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs = 10000);

// Waits until predicate() is true, polling every 10 ms; false after timeoutMs.
template <class Predicate>
bool WaitUntil(Predicate predicate, DWORD timeoutMs = 10000)
{
    for (DWORD waited = 0;; waited += 10) {
        if (predicate()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(10);
    }
}

// The same, looking every millisecond, for measuring how long something takes.
template <class Predicate>
bool WaitUntilPrecisely(Predicate predicate, DWORD timeoutMs = 10000)
{
    const DWORD started = GetTickCount();
    for (;;) {
        if (predicate()) return true;
        if (GetTickCount() - started >= timeoutMs) return false;
        Sleep(1);
    }
}

// Returns once the thread that owns window has taken from its queue every message posted to it
// before the call (false after timeoutMs, true at once when the window is gone). A sent message is
// no such barrier: a thread handles messages sent from other threads before its posted ones.
// The window's thread must belong to this process.
bool Flush(HWND window, DWORD timeoutMs = 20000);

// The window that has the keyboard focus in the thread of window, or nullptr.
HWND FocusOf(HWND window);

// Waits until window and its children (every visible window of this process for nullptr) have
// nothing left to paint and the painting has reached the screen, for a screenshot; false after
// timeoutMs.
bool WaitUntilPainted(HWND window, DWORD timeoutMs = 5000);

std::string WindowText(HWND window);

// The tab titles of a property sheet, in order.
std::vector<std::string> SheetTabTitles(HWND sheet);
std::string ClassOf(HWND window);

enum class BoxIcon { None, Information, Warning, Error, Question, Unknown };

// Message boxes: the text of the box and which standard icon it shows.
bool IsMessageBox(HWND window);
std::string MessageBoxText(HWND box);
BoxIcon MessageBoxIcon(HWND box);

// Posted input; safe from the driving thread while the target runs a modal loop.
void Click(HWND dialog, int controlId);
void PostKey(HWND window, UINT virtualKey);

// Saves the screen area of window (the whole screen for nullptr) as a PNG file.
bool SaveScreenshot(HWND window, const std::string& path);

// Folder for screenshots: $KT_SCREENSHOT_DIR, else "screenshots" beside the test program.
std::string ScreenshotDir();

struct CaughtBox {
    std::string caption;
    std::string text;
    BoxIcon icon;
};

// Answers every message box of this process with the given caption while it lives, recording
// what each one said, in order. The answer is the command id posted to the box (IDOK by default;
// IDOK as well for a box without that button).
class MessageBoxCatcher {
public:
    explicit MessageBoxCatcher(const char* caption, int answer = IDOK);
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    void SetAnswer(int answer) { SetAnswers({answer}); }
    // The n-th box from now gets answers[n]; the boxes after the last answer get the last one.
    void SetAnswers(std::vector<int> answers);
    std::vector<CaughtBox> Boxes();
    std::vector<std::string> Texts();
    void Clear();

private:
    void Run();
    bool Answered(HWND box);

    std::string caption_;
    std::vector<int> answers_;  // what the next boxes get, in order
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<CaughtBox> boxes_;
    std::vector<HWND> answered_;
    std::thread thread_;
};

// Closes every window of this process if it is still alive after timeoutMs, so a failed wait
// cannot hang the test run; fired() tells the test that it had to. When the test has not ended
// graceMs after that either (a thread no longer takes messages), it says so, runs lastWords and
// ends the process with exit code 3: one failed test, not a hang until the test runner's own time
// limit.
class Watchdog {
public:
    explicit Watchdog(DWORD timeoutMs, void (*lastWords)() = nullptr, DWORD graceMs = 10000);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool fired() const { return fired_; }

private:
    HANDLE done_;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

}  // namespace guiauto
