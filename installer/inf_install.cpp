// Destination, mode and the installation itself, which SetupAPI carries out from QARIXNT.INF.
#include <shlobj.h>
#include <setupapi.h>

#include <cstring>

#include "installer.h"
#include "resource.h"
#include "runtime/format.h"
#include "text/bounded_text.h"

namespace {

constexpr UINT kDestinationDirectoryId = 33000;
constexpr DWORD kAllInstallOperations = 0x1F;  // log configuration, INI files, registry, INI to registry, files
constexpr DWORD kCopyNewerOrSame = 4;

bool FileExists(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A string value of up to 260 bytes under HKEY_LOCAL_MACHINE.
bool ReadMachineText(const char* keyPath, const char* valueName, char (&text)[kPathChars + 1])
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = kPathChars;
    std::memset(text, 0, sizeof text);
    const bool ok = RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
                        ERROR_SUCCESS &&
                    text[0];
    RegCloseKey(key);
    return ok;
}

INT_PTR CALLBACK InstallTypeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        PlaceDialog(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        if (id == IDC_REINSTALL || id == IDC_UNINSTALL || id == IDCANCEL) EndDialog(dialog, id);
        return TRUE;
    }
    return FALSE;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM start)
{
    if (message == BFFM_INITIALIZED && start && *reinterpret_cast<const char*>(start))
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

void Browse(HWND dialog)
{
    char suffix[kPathChars + 1], title[2 * kPathChars + 2];
    LoadText(IDS_BROWSE_SUFFIX, suffix);
    kt::Format(title, sizeof title, "%s%s", Setup.title, suffix);
    BROWSEINFOA info = {};
    info.hwndOwner = dialog;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(Setup.programFiles);
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen) return;
    char folder[MAX_PATH] = {};
    if (SHGetPathFromIDListA(chosen, folder) && folder[0]) {
        kt::CopyText(Setup.destination, folder);
        SetDlgItemTextA(dialog, IDC_DESTINATION, Setup.destination);
    }
    CoTaskMemFree(chosen);
}

INT_PTR CALLBACK DestinationProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        PlaceDialog(dialog);
        SetDlgItemTextA(dialog, IDC_DESTINATION, Setup.destination);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_BROWSE: Browse(dialog); return TRUE;
        case IDOK: EndDialog(dialog, IDOK); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: return TRUE;
        }
    default: return FALSE;
    }
}

// A path that does not fit its buffer is refused, never cut: the closing message is the system's
// text for "file name too long".
int PathTooLong()
{
    Setup.errorCode = ERROR_FILENAME_EXCED_RANGE;
    return kSystemError;
}

// The INF's path: the current directory first, then the program's.
int FindInf(const char* name)
{
    char directory[kPathChars + 1] = {};
    const DWORD directoryLength = GetCurrentDirectoryA(sizeof directory, directory);
    if (directoryLength >= sizeof directory) return PathTooLong();  // the size it would need
    if (directoryLength) {
        const char* separator = directory[directoryLength - 1] == '\\' ? "" : "\\";
        if (!kt::FormatText(Setup.infPath, "%s%s%s", directory, separator, name)) return PathTooLong();
        if (FileExists(Setup.infPath)) return kDone;
    }
    char program[kPathChars + 1] = {};
    const DWORD programLength = GetModuleFileNameA(nullptr, program, sizeof program);
    if (!programLength) return kInitFailed;
    if (programLength >= sizeof program - 1) return PathTooLong();  // possibly cut by the system
    if (char* slash = std::strrchr(program, '\\')) slash[1] = 0;
    if (!kt::FormatText(Setup.infPath, "%s%s", program, name)) return PathTooLong();
    return FileExists(Setup.infPath) ? kDone : kInfNotFound;
}

int CheckSystemVersion()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return kWrongVersion;
    if (version.dwMajorVersion == 4 && version.dwMinorVersion == 0) return kDone;
    if (version.dwMajorVersion != 5) return kWrongVersion;
    if (Setup.mode == ModeInstall) Setup.mode = ModeInstallV5;
    return kDone;
}

// Runs the three sections of the mode; the error code of a failing call is kept.
bool InstallSections(HINF inf, const char* install, const char* firstServices, const char* secondServices)
{
    if (!SetupSetDirectoryIdA(inf, kDestinationDirectoryId, Setup.destination)) return false;
    PVOID context = SetupInitDefaultQueueCallback(Setup.window ? Setup.window : GetDesktopWindow());
    if (!context) {
        if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const BOOL installed = SetupInstallFromInfSectionA(nullptr, inf, install, kAllInstallOperations,
                                                       HKEY_LOCAL_MACHINE, nullptr, kCopyNewerOrSame,
                                                       SetupDefaultQueueCallbackA, context, nullptr, nullptr);
    const DWORD installError = GetLastError();
    SetupTermDefaultQueueCallback(context);
    if (!installed) {
        SetLastError(installError);
        return false;
    }
    for (const char* section : {firstServices, secondServices})
        if (section[0] && !SetupInstallServicesFromInfSectionA(inf, section, 0)) return false;
    return true;
}

}  // namespace

bool ReadInstallPath(char (&path)[kPathChars + 1])
{
    char key[kPathChars + 1], value[kPathChars + 1];
    return LoadText(IDS_PRODUCT_KEY, key) && LoadText(IDS_INSTALL_PATH, value) && ReadMachineText(key, value, path);
}

int PrepareInstallation()
{
    char name[kPathChars + 1];
    if (!LoadText(IDS_INF_NAME, name)) return kInitFailed;
    if (Setup.mode == ModeUninstall) {
        if (!ReadInstallPath(Setup.destination)) return kInitFailed;
    } else if (int result = ChooseDestination()) {
        return result;
    }
    if (int result = FindInf(name)) return result;
    return CheckSystemVersion();
}

int ChooseDestination()
{
    if (Setup.options.destPathSet) {
        if (!kt::FormatText(Setup.destination, "%s", Setup.options.destPath.c_str())) return PathTooLong();
        return kDone;
    }
    char fallback[kPathChars + 1], versionKey[kPathChars + 1], programFilesName[kPathChars + 1];
    if (!LoadText(IDS_DEFAULT_DEST, fallback) || !LoadText(IDS_VERSION_KEY, versionKey) ||
        !LoadText(IDS_PROGRAM_FILES, programFilesName))
        return kInitFailed;
    kt::CopyText(Setup.destination, fallback);
    if (ReadMachineText(versionKey, programFilesName, Setup.programFiles)) {
        const char* last = std::strrchr(fallback, '\\');
        if (!kt::FormatText(Setup.destination, "%s%s", Setup.programFiles, last ? last : "")) return PathTooLong();
    }
    char previous[kPathChars + 1];
    if (ReadInstallPath(previous)) {
        kt::CopyText(Setup.destination, previous);
        switch (DialogBoxParamA(InstallerInstance, MAKEINTRESOURCEA(IDD_INSTALL_TYPE), Setup.window,
                                InstallTypeProc, 0)) {
        case IDC_REINSTALL: Setup.mode = ModeReinstall; break;
        case IDC_UNINSTALL: Setup.mode = ModeUninstall; break;
        default: return kCancelled;
        }
        Setup.modes[Setup.mode].confirmation = 0;
    }
    if (Setup.mode == ModeUninstall) return kDone;
    const INT_PTR answer =
        DialogBoxParamA(InstallerInstance, MAKEINTRESOURCEA(IDD_DESTINATION), Setup.window, DestinationProc, 0);
    return answer == IDOK ? kDone : kCancelled;
}

int InstallFromInf()
{
    const ModeRow& row = Setup.modes[Setup.mode];
    char install[kPathChars + 1], first[kPathChars + 1], second[kPathChars + 1], infClass[kPathChars + 1];
    if (!LoadText(row.installSection, install) || !LoadText(row.firstServiceSection, first) ||
        !LoadText(row.secondServiceSection, second) || !LoadText(IDS_INF_CLASS, infClass))
        return kInitFailed;
    if (row.confirmation && !Setup.options.quiet && Ask(row.confirmation, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return kCancelled;

    HSPFILELOG log = SetupInitializeFileLogA("qarix.log", 0);
    HINF inf = SetupOpenInfFileA(Setup.infPath, infClass, INF_STYLE_WIN4, &Setup.errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        Setup.errorCode = GetLastError();
        if (log != INVALID_HANDLE_VALUE) SetupTerminateFileLog(log);
        return kInfOpenFailed;
    }
    const bool installed = InstallSections(inf, install, first, second);
    if (!installed) Setup.errorCode = GetLastError();
    SetupCloseInfFile(inf);
    if (log != INVALID_HANDLE_VALUE) SetupTerminateFileLog(log);
    return installed ? kDone : kSystemError;
}
