#include "guiauto.h"

#include <algorithm>
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

}  // namespace

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
    : caption_(caption), answer_(answer), thread_([this] { Run(); })
{
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
            {
                std::lock_guard<std::mutex> lock(mutex_);
                boxes_.push_back(caught);
                answered_.push_back(box);
            }
            // A box without the answer's button (an error box with OK alone) gets OK.
            const int answer = GetDlgItem(box, answer_.load()) ? answer_.load() : IDOK;
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

Watchdog::Watchdog(DWORD timeoutMs)
    : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, timeoutMs] {
          if (WaitForSingleObject(done_, timeoutMs) != WAIT_TIMEOUT) return;
          fired_ = true;
          // Modal loops end on IDCANCEL (dialogs, message boxes) or WM_CLOSE (other windows).
          for (int round = 0; round < 50 && !ProcessWindows().empty(); ++round) {
              for (HWND window : ProcessWindows()) {
                  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                  PostMessageA(window, WM_CLOSE, 0, 0);
              }
              if (WaitForSingleObject(done_, 100) != WAIT_TIMEOUT) return;
          }
      })
{
}

Watchdog::~Watchdog()
{
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
}

}  // namespace guiauto
