// The installer's state for one run and the steps of its worker. The window and all installation
// work meet here: the window runs on the main thread, the steps on one worker thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "options.h"
#include "regrights.h"

enum ResultCode : int {
    kDone = 0,
    kCancelled = 1,
    kInitFailed = 2,
    kInfNotFound = 3,
    kInfOpenFailed = 4,
    kSystemError = 5,
    kWrongVersion = 6,
    kBadCommandLine = 7,
    kRebootPromptMissing = 8,
    kRebootFailed = 9,
    kConfigNotFound = 11,
};

enum InstallMode : int { ModeInstall = 0, ModeInstallV5 = 1, ModeUninstall = 2, ModeReinstall = 3 };

// String identifiers of a mode's sections and prompts; a confirmation of 0 means none.
struct ModeRow {
    int installSection;
    int firstServiceSection;
    int secondServiceSection;
    int confirmation;
    int rebootPrompt;
};

constexpr int kPathChars = 260;

struct Installer {
    InstallOptions options;
    InstallMode mode = ModeInstall;
    ModeRow modes[4];  // the mode table; the installation-type dialog clears a confirmation
    char title[kPathChars + 1] = {};
    char infPath[kPathChars + 1] = {};
    char destination[kPathChars + 1] = {};
    char programFiles[kPathChars + 1] = {};  // for the folder browser's start
    DWORD errorCode = 0;                     // of the failing system call, for the closing message
    UINT errorLine = 0;                      // reported for a setup information file that did not open
    HWND window = nullptr;
    KeyAccessNode* enumAccess = nullptr;     // held from OpenEnumAccess to CloseEnumAccess
    int result = kDone;                      // of the last run
    bool closeAsked = false;                 // the worker closes the window; nobody else may
    bool on64BitSystem = false;              // a 32-bit installer under WoW64 (CheckNativeSystem)
};

extern Installer Setup;
extern HINSTANCE InstallerInstance;

// The whole program: window on this thread, RunInstaller on a worker thread; returns the run's
// result code (0 done, 1 cancelled, else the failure), which is the program's exit status.
int RunInstallerProgram(HINSTANCE instance, const char* commandLine);
int RunInstaller(const char* commandLine);
void ShowResult(int result);

// Strings of the installer's table (at most 260 characters); false when missing.
bool LoadText(int id, char* text, int chars);
template <int N>
bool LoadText(int id, char (&text)[N])
{
    return LoadText(id, text, N);
}
// A question or message owned by the window, with the installer's title; -1 when the string is
// missing.
int Ask(int stringId, UINT type);

// Steps (checks.cpp).
int CheckNativeSystem();
int CheckOldInstallation();
int CheckAdministrator();
int OpenEnumAccess();
void CloseEnumAccess();
// The registry steps after the INF step: ERROR_SUCCESS, or the error of the first that failed (a
// key or value that is not there is no failure).
DWORD RemoveStartupCheck();
DWORD WritePortMaps();
void StartInstalledServices();

// Steps (inf_install.cpp).
int PrepareInstallation();
int ChooseDestination();
int InstallFromInf();
// The previous installation's directory; false when there is none.
bool ReadInstallPath(char (&path)[kPathChars + 1]);

// Window (splash_window.cpp).
int CreateSplashWindow();
void ReleaseDrawing();
void PlaceDialog(HWND dialog);
// The reboot prompt: 0 with reboot set when the system is to be rebooted, 0 without it under
// NOREBOOT, 1 when declined, 8 when the prompt is missing.
int AskForReboot(bool& reboot);
// The reboot request: 0, or 9 with the error code kept.
int RequestReboot();

// The reboot request (ExitWindowsEx). Only a test program replaces it: a real request ends every
// program of a Wine prefix.
extern BOOL(WINAPI* InstallerRebootRequest)(UINT flags, DWORD reason);
