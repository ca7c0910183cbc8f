// The full-screen window behind the installer's dialogs: banner on top, logo in the middle. And
// the installation's last step, the reboot.
#include <cstring>
#include <vector>

#include "bitmap_file.h"
#include "installer.h"
#include "resource.h"
#include "runtime/format.h"

namespace {

const char kClassName[] = "QarixInstall";
constexpr DWORD kMaxPictureBytes = 64 << 20;  // a full-screen 32-bit picture is well below

struct Picture {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    int width = 0;
    int height = 0;
};

Picture logo, banner;
HBRUSH logoBrush;

int ScreenWidth()
{
    return GetSystemMetrics(SM_CXSCREEN);
}

int ScreenHeight()
{
    return GetSystemMetrics(SM_CYSCREEN);
}

HANDLE OpenPictureFile(const char* name, const char* fallbackDirectory)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE || !fallbackDirectory) return file;
    char path[2 * kPathChars + 2];
    kt::Format(path, sizeof path, "%s\\%s", fallbackDirectory, name);
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool ReadExactly(HANDLE file, void* data, DWORD size)
{
    DWORD read = 0;
    return ReadFile(file, data, size, &read, nullptr) && read == size;
}

// The whole file, when it is small enough to be a picture; empty otherwise.
std::vector<BYTE> ReadPictureFile(HANDLE file)
{
    std::vector<BYTE> data;
    // A failed query answers INVALID_FILE_SIZE, which is above the limit as well.
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (high || size > kMaxPictureBytes) return data;
    try {
        data.resize(size);
    } catch (...) {
        return {};  // no memory for it: no picture
    }
    if (!ReadExactly(file, data.data(), static_cast<DWORD>(data.size()))) data.clear();
    return data;
}

// A bitmap file as a bitmap compatible with dc; nothing for a missing or damaged file.
Picture LoadBitmapFile(int nameId, HDC dc, const char* fallbackDirectory)
{
    Picture picture;
    char name[kPathChars + 1];
    if (!LoadText(nameId, name) || !name[0]) return picture;
    HANDLE file = OpenPictureFile(name, fallbackDirectory);
    if (file == INVALID_HANDLE_VALUE) return picture;
    const std::vector<BYTE> data = ReadPictureFile(file);
    BitmapLayout layout = {};
    if (CheckBitmapFile(data.data(), data.size(), layout)) {
        const auto* info = reinterpret_cast<const BITMAPINFO*>(data.data() + layout.infoOffset);
        const int rows = layout.height < 0 ? -layout.height : layout.height;
        HBITMAP bitmap = CreateCompatibleBitmap(dc, layout.width, rows);
        if (bitmap && SetDIBits(dc, bitmap, 0, rows, data.data() + layout.bitsOffset, info, DIB_RGB_COLORS)) {
            picture.bitmap = bitmap;
            picture.width = layout.width;
            picture.height = rows;
        } else if (bitmap) {
            DeleteObject(bitmap);
        }
    }
    CloseHandle(file);
    if (picture.bitmap) {
        picture.dc = CreateCompatibleDC(dc);
        picture.previous = SelectObject(picture.dc, picture.bitmap);
    }
    return picture;
}

void Release(Picture& picture)
{
    if (picture.dc) {
        SelectObject(picture.dc, picture.previous);
        DeleteDC(picture.dc);
    }
    if (picture.bitmap) DeleteObject(picture.bitmap);
    picture = Picture{};
}

void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (logoBrush) {
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, logoBrush);
    }
    if (banner.bitmap)
        StretchBlt(dc, 0, 0, ScreenWidth(), banner.height, banner.dc, 0, 0, banner.width, banner.height, SRCCOPY);
    if (logo.bitmap)
        BitBlt(dc, (ScreenWidth() - logo.width) / 2, (ScreenHeight() - logo.height) / 2, logo.width, logo.height,
               logo.dc, 0, 0, SRCCOPY);
    EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        if (logo.bitmap || banner.bitmap) {
            Paint(window);
            return DefWindowProcA(window, message, wParam, lParam);
        }
        break;
    case WM_CLOSE:
        // Alt+F4 or the system menu would end the message loop while the worker goes on.
        if (!Setup.closeAsked) return 0;
        break;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool SetShutdownPrivilege()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool ok = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                    GetLastError() == ERROR_SUCCESS;
    const DWORD error = GetLastError();
    CloseHandle(token);
    SetLastError(error);
    return ok;
}

}  // namespace

BOOL(WINAPI* InstallerRebootRequest)(UINT flags, DWORD reason) = ExitWindowsEx;

int CreateSplashWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = InstallerInstance;
    windowClass.hIcon = LoadIconA(InstallerInstance, MAKEINTRESOURCEA(IDI_INSTALL));
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        Setup.errorCode = GetLastError();
        return 0;
    }
    Setup.window = CreateWindowA(kClassName, kClassName, WS_POPUP | WS_BORDER | WS_SYSMENU, 0, 0, ScreenWidth(),
                                 ScreenHeight(), nullptr, nullptr, InstallerInstance, nullptr);
    if (!Setup.window) {
        Setup.errorCode = GetLastError();
        return 0;
    }
    ShowWindow(Setup.window, SW_SHOWMAXIMIZED);
    UpdateWindow(Setup.window);

    HDC dc = GetDC(Setup.window);
    const int colours = GetDeviceCaps(dc, NUMCOLORS);
    const bool fewColours = colours > 0 && colours <= 256;
    char previous[kPathChars + 1];
    const char* fallback = ReadInstallPath(previous) ? previous : nullptr;
    logo = LoadBitmapFile(fewColours ? IDS_LOGO_16 : IDS_LOGO, dc, fallback);
    banner = LoadBitmapFile(fewColours ? IDS_BANNER_16 : IDS_BANNER, dc, fallback);
    if (logo.bitmap) logoBrush = CreateSolidBrush(GetPixel(logo.dc, 0, 0));
    InvalidateRect(Setup.window, nullptr, TRUE);
    return 1;
}

void ReleaseDrawing()
{
    Release(logo);
    Release(banner);
    if (logoBrush) DeleteObject(logoBrush);
    logoBrush = nullptr;
}

void PlaceDialog(HWND dialog)
{
    RECT rect;
    if (!GetWindowRect(dialog, &rect)) return;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const int x = (ScreenWidth() - width) / 2;
    int y = banner.bitmap ? banner.height * 3 / 2 : 0;
    if (y + height > ScreenHeight()) y = ScreenHeight() - height;
    if (x < 0 || y < 0) return;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW);
}

int AskForReboot(bool& reboot)
{
    reboot = false;
    if (Setup.options.noReboot) return kDone;
    char prompt[kPathChars + 1];
    if (!LoadText(Setup.modes[Setup.mode].rebootPrompt, prompt)) return kRebootPromptMissing;
    if (!Setup.options.quiet && MessageBoxA(Setup.window, prompt, Setup.title, MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return kCancelled;
    reboot = true;
    return kDone;
}

int RequestReboot()
{
    if (!SetShutdownPrivilege() || !InstallerRebootRequest(EWX_REBOOT | EWX_FORCE, 0)) {
        Setup.errorCode = GetLastError();
        return kRebootFailed;
    }
    return kDone;
}
