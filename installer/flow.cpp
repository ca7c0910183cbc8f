// The installer's run: the window on the main thread, the steps on a worker, one closing message.
#include <objbase.h>

#include <cstring>

#include "installer.h"
#include "resource.h"
#include "runtime/format.h"

Installer Setup;
HINSTANCE InstallerInstance;

namespace {

const ModeRow kModeTable[4] = {
    {IDS_SECTION_INSTALL, IDS_SECTION_ENUM, IDS_SECTION_PORTS, IDS_CONFIRM_INSTALL, IDS_REBOOT_INSTALL},
    {IDS_SECTION_INSTALL, IDS_SECTION_ENUM, IDS_SECTION_PORTS, IDS_CONFIRM_INSTALL_V5, IDS_REBOOT_INSTALL},
    {IDS_SECTION_UNINSTALL, IDS_SECTION_REM_PORTS, IDS_SECTION_REM_ENUM, IDS_CONFIRM_UNINSTALL, IDS_REBOOT_UNINSTALL},
    {IDS_SECTION_INSTALL, IDS_SECTION_ENUM, IDS_SECTION_PORTS, 0, IDS_REBOOT_INSTALL},
};

DWORD WINAPI Worker(LPVOID commandLine)
{
    // The folder browser of the destination dialog, shown on this thread, needs COM in a
    // single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        Setup.result = RunInstaller(static_cast<const char*>(commandLine));
    } catch (...) {
        // Only memory can run out here: the run ends with the system's text for that.
        CloseEnumAccess();
        Setup.errorCode = ERROR_NOT_ENOUGH_MEMORY;
        Setup.result = kSystemError;
        ShowResult(kSystemError);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    Setup.closeAsked = true;
    SendMessageA(Setup.window, WM_CLOSE, 0, 0);
    return 0;
}

// The system's text for an error code; false when it has none.
bool SystemText(DWORD code, char* text, int chars)
{
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, chars, nullptr);
    return length > 0;
}

// The closing message of a result; false when a string it needs is missing.
bool ResultText(int result, char* text, int chars)
{
    char format[kPathChars + 1];
    char system[512];
    switch (result) {
    case kInitFailed: return LoadText(IDS_INIT_ERROR, text, chars);
    case kInfNotFound: {
        char name[kPathChars + 1];
        if (!LoadText(IDS_FILE_NOT_FOUND, format) || !LoadText(IDS_INF_NAME, name)) return false;
        kt::Format(text, chars, format, name);
        return true;
    }
    case kInfOpenFailed:
        if (Setup.errorLine && Setup.errorCode != ERROR_NOT_ENOUGH_MEMORY) {
            if (!LoadText(IDS_INF_LINE_ERROR, format)) return false;
            kt::Format(text, chars, format, static_cast<int>(Setup.errorLine));
            return true;
        }
        return ResultText(kSystemError, text, chars);
    case kSystemError:
        if (SystemText(Setup.errorCode, text, chars)) return true;
        if (!LoadText(IDS_SYSTEM_ERROR, format)) return false;
        kt::Format(text, chars, format, static_cast<unsigned long>(Setup.errorCode));
        return true;
    case kWrongVersion: return LoadText(Setup.on64BitSystem ? IDS_64BIT_SYSTEM : IDS_WRONG_VERSION, text, chars);
    case kBadCommandLine: return LoadText(IDS_BAD_PARAMETER, text, chars);
    case kRebootPromptMissing: return LoadText(IDS_REBOOT_UNKNOWN, text, chars);
    case kRebootFailed:
        if (!SystemText(Setup.errorCode, system, sizeof system)) return LoadText(IDS_REBOOT_UNKNOWN, text, chars);
        if (!LoadText(IDS_REBOOT_FAILED, format)) {
            kt::Format(text, chars, "%s", system);
            return true;
        }
        kt::Format(text, chars, format, system);
        return true;
    case kConfigNotFound: return LoadText(IDS_CONFIG_NOT_FOUND, text, chars);
    default: return LoadText(IDS_INTERNAL_ERROR, text, chars);
    }
}

}  // namespace

bool LoadText(int id, char* text, int chars)
{
    text[0] = 0;
    return LoadStringA(InstallerInstance, id, text, chars < kPathChars + 1 ? chars : kPathChars + 1) > 0;
}

int Ask(int stringId, UINT type)
{
    char text[kPathChars + 1];
    if (!LoadText(stringId, text)) return -1;
    return MessageBoxA(Setup.window, text, Setup.title, type);
}

void ShowResult(int result)
{
    if (result == kDone || result == kCancelled) return;
    // A quiet installation on a system it is not for ends without a word, as before it began.
    if (Setup.on64BitSystem && Setup.options.quiet) return;
    char text[1024];
    if (!ResultText(result, text, sizeof text)) kt::Format(text, sizeof text, "Format for error %d not found", result);
    MessageBoxA(Setup.window, text, Setup.title, MB_OK | MB_ICONERROR);
}

// The title of every box; false when it is missing and a stand-in title is used.
bool LoadTitle()
{
    if (LoadText(IDS_TITLE, Setup.title)) return true;
    std::strcpy(Setup.title, "Qarix ???????");
    return false;
}

int RunInstaller(const char* commandLine)
{
    int result = LoadTitle() ? kDone : kInitFailed;
    bool uninstall = false;
    if (result == kDone) result = ParseCommandLine(commandLine ? commandLine : "", Setup.options, uninstall);
    if (uninstall) Setup.mode = ModeUninstall;
    if (result == kDone) result = CheckNativeSystem();
    if (result == kDone) result = CheckOldInstallation();
    if (result == kDone) result = CheckAdministrator();
    if (result == kDone) result = PrepareInstallation();
    if (result == kDone) result = OpenEnumAccess();
    if (result == kDone) result = InstallFromInf();
    bool reboot = false;
    if (result == kDone) {
        CloseEnumAccess();
        result = AskForReboot(reboot);
    }
    if (result == kDone) {
        // The registry steps come before the reboot request: once it is made, the system ends
        // processes, this one too, perhaps between granting the enumerator key and restoring it.
        // A step that failed is said instead of asking for the reboot: the run did not do
        // everything its configuration asked for.
        DWORD failed = Setup.options.noUserInfo ? RemoveStartupCheck() : ERROR_SUCCESS;
        const DWORD maps = WritePortMaps();
        if (!failed) failed = maps;
        if (failed) {
            Setup.errorCode = failed;
            result = kSystemError;
        } else if (reboot) {
            result = RequestReboot();
        }
    }
    // An uninstallation has just deleted these services; starting them would bring them back.
    if (result == kDone && Setup.options.autoStartDrivers && Setup.mode != ModeUninstall) StartInstalledServices();
    CloseEnumAccess();
    ShowResult(result);
    return result;
}

int RunInstallerProgram(HINSTANCE instance, const char* commandLine)
{
    InstallerInstance = instance;
    Setup = Installer{};  // a fresh state for every run, as tests run it more than once
    std::memcpy(Setup.modes, kModeTable, sizeof kModeTable);

    HANDLE worker = nullptr;
    if (!CreateSplashWindow()) {
        Setup.result = kSystemError;
        LoadTitle();
        ShowResult(kSystemError);
    } else if (!(worker = CreateThread(nullptr, 0, Worker, const_cast<char*>(commandLine), 0, nullptr))) {
        Setup.errorCode = GetLastError();
        Setup.result = kSystemError;
        // The box first: destroying the window posts the quit message, which would end its loop.
        LoadTitle();
        ShowResult(kSystemError);
        DestroyWindow(Setup.window);
    } else {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
    ReleaseDrawing();
    Setup.window = nullptr;
    return Setup.result;
}
