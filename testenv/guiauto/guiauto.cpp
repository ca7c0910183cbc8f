#include "guiauto.h"

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "png_writer.h"

namespace guiauto {
namespace {

constexpr int kBoxTextId = 0xFFFF;
constexpr int kBoxIconIds[] = {0x14, 1088};  // Windows, Wine

struct WindowFilter {
    const char* className;
    const char* caption;
    std::vector<HWND>* found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    auto* filter = reinterpret_cast<WindowFilter*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    if (filter->className && ClassOf(window) != filter->className) return TRUE;
    if (filter->caption && WindowText(window) != filter->caption) return TRUE;
    filter->found->push_back(window);
    return TRUE;
}

// Flush: a registered message posted to the window, noticed by a message hook in its thread
// when that thread takes it from the queue.
UINT FlushMessage()
{
    static const UINT message = RegisterWindowMessageA("guiauto.flush");
    return message;
}

std::mutex flushMutex;
std::vector<LPARAM> flushMarkersTaken;

LRESULT CALLBACK NoteFlushMarker(int code, WPARAM removal, LPARAM param)
{
    const MSG* message = reinterpret_cast<const MSG*>(param);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == FlushMessage()) {
        std::lock_guard<std::mutex> lock(flushMutex);
        flushMarkersTaken.push_back(message->lParam);
    }
    return CallNextHookEx(nullptr, code, removal, param);
}

bool TakeFlushMarker(LPARAM marker)
{
    std::lock_guard<std::mutex> lock(flushMutex);
    auto found = std::find(flushMarkersTaken.begin(), flushMarkersTaken.end(), marker);
    if (found == flushMarkersTaken.end()) return false;
    flushMarkersTaken.erase(found);
    return true;
}

BOOL CALLBACK NoteUnpaintedChild(HWND child, LPARAM param)
{
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) *reinterpret_cast<bool*>(param) = true;
    return TRUE;
}

bool HasUnpaintedParts(HWND window)
{
    bool unpainted = GetUpdateRect(window, nullptr, FALSE) != FALSE;
    EnumChildWindows(window, NoteUnpaintedChild, reinterpret_cast<LPARAM>(&unpainted));
    return unpainted;
}

}  // namespace

bool Flush(HWND window, DWORD timeoutMs)
{
    static std::atomic<LONG> lastMarker{0};
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (!thread) return true;  // no such window: nothing is waiting for it
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, NoteFlushMarker, nullptr, thread);
    if (!hook) return false;
    const LPARAM marker = ++lastMarker;
    // A window that went away takes nothing more; any other refused post is a failure.
    const bool flushed =
        PostMessageA(window, FlushMessage(), 0, marker)
            ? WaitUntil([&] { return TakeFlushMarker(marker) || !IsWindow(window); }, timeoutMs)
            : !IsWindow(window);
    UnhookWindowsHookEx(hook);
    return flushed;
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {sizeof info};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool WaitUntilPainted(HWND window, DWORD timeoutMs)
{
    std::vector<HWND> windows;
    for (HWND candidate : window ? std::vector<HWND>{window} : ProcessWindows())
        if (IsWindowVisible(candidate)) windows.push_back(candidate);
    const auto painted = [&] {
        return std::none_of(windows.begin(), windows.end(), HasUnpaintedParts);
    };
    if (!WaitUntil(painted, timeoutMs)) return false;
    for (HWND shown : windows) {
        DWORD owner = 0;
        GetWindowThreadProcessId(shown, &owner);
        if (owner == GetCurrentProcessId() && !Flush(shown, timeoutMs)) return false;
    }
    // What a window has painted reaches the X server when its thread next waits for messages;
    // nothing tells another thread when that has happened. This pause is for the picture only:
    // no test result depends on it.
    Sleep(100);
    return true;
}

std::vector<HWND> ProcessWindows(const char* className, const char* caption)
{
    std::vector<HWND> found;
    WindowFilter filter{className, caption, &found};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&filter));
    return found;
}

HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs)
{
    HWND window = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> windows = ProcessWindows(className, caption);
            for (HWND w : windows)
                if (IsWindowVisible(w)) window = w;
            return window != nullptr;
        },
        timeoutMs);
    return window;
}

std::string WindowText(HWND window)
{
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool IsMessageBox(HWND window)
{
    if (ClassOf(window) != "#32770" || !GetDlgItem(window, kBoxTextId)) return false;
    HWND text = GetDlgItem(window, kBoxTextId);
    return ClassOf(text) == "Static";
}

std::string MessageBoxText(HWND box)
{
    char text[4096] = {};
    GetDlgItemTextA(box, kBoxTextId, text, sizeof text);
    return text;
}

BoxIcon MessageBoxIcon(HWND box)
{
    HICON icon = nullptr;
    for (int id : kBoxIconIds)
        if (HWND control = GetDlgItem(box, id))
            if (IsWindowVisible(control))
                icon = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
    if (!icon) return BoxIcon::None;
    if (icon == LoadIcon(nullptr, IDI_INFORMATION)) return BoxIcon::Information;
    if (icon == LoadIcon(nullptr, IDI_WARNING)) return BoxIcon::Warning;
    if (icon == LoadIcon(nullptr, IDI_ERROR)) return BoxIcon::Error;
    if (icon == LoadIcon(nullptr, IDI_QUESTION)) return BoxIcon::Question;
    return BoxIcon::Unknown;
}

void Click(HWND dialog, int controlId)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, controlId)));
}

void PostKey(HWND window, UINT virtualKey)
{
    PostMessageA(window, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(window, WM_KEYUP, virtualKey, 0xC0000001);
}

bool SaveScreenshot(HWND window, const std::string& path)
{
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window) GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
    bool ok = GetDIBits(memory, bitmap, 0, height, bgrx.data(), &info, DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;

    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
        rgb[i * 3] = bgrx[i * 4 + 2];
        rgb[i * 3 + 1] = bgrx[i * 4 + 1];
        rgb[i * 3 + 2] = bgrx[i * 4];
    }
    return WritePng(path, width, height, rgb);
}

std::string ScreenshotDir()
{
    if (const char* dir = std::getenv("KT_SCREENSHOT_DIR")) {
        CreateDirectoryA(dir, nullptr);
        return dir;
    }
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of('\\') + 1) + "screenshots";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

MessageBoxCatcher::MessageBoxCatcher(const char* caption, int answer)
    : caption_(caption), answers_{answer}, thread_([this] { Run(); })
{
}

void MessageBoxCatcher::SetAnswers(std::vector<int> answers)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!answers.empty()) answers_ = std::move(answers);
}

MessageBoxCatcher::~MessageBoxCatcher()
{
    stop_ = true;
    thread_.join();
}

bool MessageBoxCatcher::Answered(HWND box)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // Forget boxes that have gone: a later box may get the same handle.
    answered_.erase(std::remove_if(answered_.begin(), answered_.end(),
                                   [](HWND known) { return !IsWindow(known); }),
                    answered_.end());
    return std::find(answered_.begin(), answered_.end(), box) != answered_.end();
}

void MessageBoxCatcher::Run()
{
    while (!stop_) {
        for (HWND box : ProcessWindows("#32770", caption_.c_str())) {
            if (!IsMessageBox(box) || !IsWindowVisible(box) || Answered(box)) continue;
            // Read outside the lock: these are sent to the thread that owns the box.
            CaughtBox caught{caption_, MessageBoxText(box), MessageBoxIcon(box)};
            int answer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                boxes_.push_back(caught);
                answered_.push_back(box);
                answer = answers_.front();
                if (answers_.size() > 1) answers_.erase(answers_.begin());
            }
            // A box without the answer's button (an error box with OK alone) gets OK.
            if (!GetDlgItem(box, answer)) answer = IDOK;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        }
        Sleep(10);
    }
}

std::vector<CaughtBox> MessageBoxCatcher::Boxes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<std::string> MessageBoxCatcher::Texts()
{
    std::vector<std::string> texts;
    for (const CaughtBox& box : Boxes()) texts.push_back(box.text);
    return texts;
}

void MessageBoxCatcher::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
}

Watchdog::Watchdog(DWORD timeoutMs, void (*lastWords)(), DWORD graceMs)
    : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, timeoutMs, lastWords, graceMs] {
          if (WaitForSingleObject(done_, timeoutMs) != WAIT_TIMEOUT) return;
          fired_ = true;
          std::fprintf(stderr, "watchdog: still running after %lu ms; closing every window\n",
                       static_cast<unsigned long>(timeoutMs));
          // Modal loops end on IDCANCEL (dialogs, message boxes) or WM_CLOSE (other windows).
          for (DWORD waited = 0; waited < graceMs; waited += 100) {
              if (waited < 5000)
                  for (HWND window : ProcessWindows()) {
                      if (!IsWindowVisible(window)) continue;
                      PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                      PostMessageA(window, WM_CLOSE, 0, 0);
                  }
              if (WaitForSingleObject(done_, 100) != WAIT_TIMEOUT) return;
          }
          std::fprintf(stderr, "watchdog: the windows did not close; ending the test program\n");
          std::fflush(nullptr);
          if (lastWords) lastWords();
          TerminateProcess(GetCurrentProcess(), 3);
      })
{
}

Watchdog::~Watchdog()
{
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
}

std::vector<std::string> SheetTabTitles(HWND sheet)
{
    HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    std::vector<std::string> titles;
    const int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        titles.push_back(text);
    }
    return titles;
}

}  // namespace guiauto
