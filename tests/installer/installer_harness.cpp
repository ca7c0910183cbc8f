#include "installer_harness.h"

#include <shlwapi.h>

#include <cstdio>
#include <thread>

#include "cardsim.h"
#include "installer.h"
#include "standin.h"

const char kTestDestination[] = "C:\\kt_install_test";
const char kProductKey[] = "SOFTWARE\\Tervane\\Qarix";
const char kEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum";
const char* const kDriverServices[4] = {"ktcnt", "ktsnt", "ktpnt", "ktpptnt"};
const char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

namespace {

InstallerHarness* running;

}  // namespace

BOOL WINAPI InstallerHarness::RecordReboot(UINT flags, DWORD)
{
    running->reboots.push_back(flags);
    if (running->atReboot) running->atReboot();
    return TRUE;
}

namespace {

void DeleteDirectory(const std::string& directory)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((directory + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

std::string SystemDriverFile()
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    return std::string(system) + "\\drivers\\ktpptnt.sys";
}

}  // namespace

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(HKEY root, const std::string& path, const char* name)
{
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1;
    if (SHGetValueA(root, path.c_str(), name, nullptr, text, &size) != ERROR_SUCCESS) return "<missing>";
    return text;
}

std::vector<uint8_t> ReadBinary(HKEY root, const std::string& path, const char* name)
{
    std::vector<uint8_t> data(64);
    DWORD size = static_cast<DWORD>(data.size());
    if (SHGetValueA(root, path.c_str(), name, nullptr, data.data(), &size) != ERROR_SUCCESS) return {};
    data.resize(size);
    return data;
}

std::string ProgramFilesDir()
{
    return ReadText(HKEY_LOCAL_MACHINE, kVersionKey, "ProgramFilesDir");
}

bool ServiceExists(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_STATUS) : nullptr;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return service != nullptr;
}

void InstallerHarness::RemoveInstallation(const std::string& destination)
{
    for (const char* name : kDriverServices) standin::Remove(name);
    standin::ClearLog();
    cardsim::RemoveAll();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
    DeleteDirectory(destination);
    DeleteFileA(SystemDriverFile().c_str());
}

void InstallerHarness::SetUp()
{
    char name[256] = {};
    DWORD size = sizeof name;
    GetUserNameA(name, &size);
    userName = name;
    packageDir = KT_PACKAGE_DIR;
    RemoveInstallation(kTestDestination);
    GetCurrentDirectoryA(sizeof savedDirectory_, savedDirectory_);
    ASSERT_TRUE(SetCurrentDirectoryA(packageDir.c_str()));
    running = this;
    InstallerRebootRequest = RecordReboot;
}

void InstallerHarness::TearDown()
{
    SetCurrentDirectoryA(savedDirectory_);
    RemoveInstallation(kTestDestination);
    for (const std::string& file : configFiles_) DeleteFileA(file.c_str());
    InstallerRebootRequest = ExitWindowsEx;
}

int InstallerHarness::Run(const std::string& commandLine, const std::function<void()>& drive)
{
    guiauto::Watchdog watchdog(60000);
    std::thread driver([&] {
        if (drive) drive();
    });
    const int exitStatus = RunInstallerProgram(GetModuleHandleA(nullptr), commandLine.c_str());
    EXPECT_EQ(::Setup.result, exitStatus) << "the exit status is the run's result";
    driver.join();
    EXPECT_FALSE(watchdog.fired()) << "the installer had to be closed by the watchdog";
    return ::Setup.result;
}

std::string InstallerHarness::Config(const std::string& text)
{
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    const std::string path = std::string(directory) + "kt_install_" + std::to_string(configFiles_.size()) + ".cfg";
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    configFiles_.push_back(path);
    return path;
}

namespace {

// The message boxes of another process with the installer's title: their texts, each answered OK.
std::vector<std::string> AnswerBoxesOf(const PROCESS_INFORMATION& process)
{
    std::vector<std::string> texts;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        HWND box = nullptr;
        while ((box = FindWindowExA(nullptr, box, "#32770", "Qarix install"))) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            if (owner != process.dwProcessId || !IsWindowVisible(box)) continue;
            texts.push_back(guiauto::MessageBoxText(box));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            guiauto::WaitUntil([&] { return !IsWindow(box); }, 5000);
        }
    }
    return texts;
}

}  // namespace

DWORD InstallerHarness::RunProgram(const std::string& configText, std::vector<std::string>& boxTexts)
{
    std::string commandLine = "\"" + packageDir + "\\install.exe\" -c " + Config(configText);
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, packageDir.c_str(), &startup,
                        &process)) {
        ADD_FAILURE() << "install.exe did not start: " << GetLastError();
        return ~0u;
    }
    boxTexts = AnswerBoxesOf(process);
    DWORD exitCode = ~0u;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

std::string InstallerHarness::QuietAdmin() const
{
    return "ADMINNAME=" + userName + "\nQUIET\n";
}

SeenDialog InstallerHarness::Answer(const char* caption, int id, const char* screenshot)
{
    SeenDialog seen;
    HWND dialog = guiauto::WaitForWindow("#32770", caption, 30000);
    if (!dialog) {
        ADD_FAILURE() << "no dialog " << caption;
        return seen;
    }
    GetWindowRect(dialog, &seen.rect);  // placed before it was shown
    if (HWND field = GetDlgItem(dialog, 1000)) seen.field = guiauto::WindowText(field);
    if (screenshot) {
        guiauto::WaitUntilPainted(nullptr);  // the dialog and the window behind it
        guiauto::SaveScreenshot(nullptr, guiauto::ScreenshotDir() + "/" + screenshot);
    }
    guiauto::Click(dialog, id);
    return seen;
}

void InstallerHarness::PretendInstalledAt(const std::string& directory)
{
    ASSERT_EQ(ERROR_SUCCESS, cardsim::SetText(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", directory));
}
