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

std::string WindowText(HWND window);
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

    void SetAnswer(int answer) { answer_ = answer; }
    std::vector<CaughtBox> Boxes();
    std::vector<std::string> Texts();
    void Clear();

private:
    void Run();
    bool Answered(HWND box);

    std::string caption_;
    std::atomic<int> answer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<CaughtBox> boxes_;
    std::vector<HWND> answered_;
    std::thread thread_;
};

// Closes every window of this process if it is still alive after timeoutMs, so a failed wait
// cannot hang the test run; fired() tells the test that it had to.
class Watchdog {
public:
    explicit Watchdog(DWORD timeoutMs);
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
