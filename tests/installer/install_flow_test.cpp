// Whole installer runs: installation, uninstallation, the dialogs, the questions and the closing
// messages, against the Wine registry, services and file system.
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "cardsim.h"
#include "installer.h"
#include "import_hook.h"
#include "installer_harness.h"
#include "key_security.h"
#include "standin.h"

namespace {

using cardsim::kEnumeratorPath;
const char kMachineRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

const char kConfirmV5[] =
    "This installation is not appropriate for this operation system.\nPress Yes to install anyway on your own risk.";
const char kConfirmUninstall[] = "You are about to uninstall Qarix drivers from this system.\nPress Yes to continue if sure.";
const char kRebootInstall[] =
    "These changes will take effect after reboot.\nPress YES to reboot  the system. Be sure, that all Qarix card are "
    "plugged in.";
const char kNotAdministrator[] =
    "You are not logged in as an administrator. \nWould you like to continue anyway on your own risk ?";
const char kOldInstallation[] =
    "An old incompatible installation was found. Please uninstall old drivers or press YES to install new drivers on "
    "your own risk.";

std::vector<uint8_t> MapWith(std::initializer_list<std::pair<int, uint8_t>> bytes)
{
    std::vector<uint8_t> map(32, 0);
    for (const auto& [index, value] : bytes) map[index] = value;
    return map;
}

// The DACLs of the enumeration tree, without the enumerator's own subtree.
std::map<std::string, std::string> OtherEnumDacls()
{
    std::map<std::string, std::string> dacls = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumPath);
    for (auto entry = dacls.begin(); entry != dacls.end();)
        entry = entry->first.rfind("QARIXBUS", 0) == 0 ? dacls.erase(entry) : std::next(entry);
    return dacls;
}

bool WaitUntilServiceGone(const char* name)
{
    return guiauto::WaitUntil([&] { return !ServiceExists(name); }, 15000);
}

decltype(&StartServiceA) realStartService;
int serviceStarts;

BOOL WINAPI CountServiceStart(SC_HANDLE service, DWORD count, LPCSTR* arguments)
{
    ++serviceStarts;
    return realStartService(service, count, arguments);
}

class InstallerRun : public InstallerHarness {};

TEST_F(InstallerRun, QuietInstallAndUninstallWithRestrictedEnumerationTree)
{
    SavedKeySecurity enumSecurity(kEnumPath);
    // Administrators may read the enumeration tree but not change it: the installer has to take
    // access for its INF step and give it back afterwards.
    ASSERT_EQ(ERROR_SUCCESS, cardsim::SetDacl(HKEY_LOCAL_MACHINE, kEnumPath, "D:(A;;KRWD;;;BA)(A;;KA;;;SY)"));
    const std::map<std::string, std::string> enumDacls = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumPath);
    ASSERT_GT(enumDacls.size(), 1u);
    ASSERT_EQ(ERROR_SUCCESS, cardsim::SetText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk", "ktcfg check"));

    const std::string settings = QuietAdmin() + "NOUSERINFO\nAUTOSTARTDRIVERS\nDESTPATH=" + kTestDestination +
                                 "\nCOMEXCLUDE=3,5-7\nLPTEXCLUDE=\n";
    // The system ends the installer soon after its reboot request: by then every registry step
    // is done and every access right given back.
    std::map<std::string, std::string> enumDaclsAtReboot;
    std::vector<uint8_t> comMapAtReboot;
    std::string runValueAtReboot;
    atReboot = [&] {
        enumDaclsAtReboot = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumPath);
        comMapAtReboot = ReadBinary(HKEY_LOCAL_MACHINE, kEnumeratorPath, "COMPortMap");
        runValueAtReboot = ReadText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk");
    };
    const DWORD started = GetTickCount();
    EXPECT_EQ(0, Run("-c " + Config(settings)));
    std::printf("quiet installation with service start: %lu ms\n", GetTickCount() - started);

    EXPECT_EQ(std::vector<std::string>{}, Boxes());
    EXPECT_EQ(std::vector<UINT>{EWX_REBOOT | EWX_FORCE}, reboots);
    EXPECT_EQ(enumDacls, OtherEnumDacls());
    // The new enumerator key has what its parent gave it, also after the port-map step.
    EXPECT_EQ(enumDacls.at(""), cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumeratorPath).at(""));
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumPath), enumDaclsAtReboot);
    EXPECT_EQ(MapWith({{0, 0x74}}), comMapAtReboot);
    EXPECT_EQ("<missing>", runValueAtReboot);
    for (const char* file : {"ktcfg.cpl", "KTS2KUI.dll", "install.exe", "ktsvc.exe", "kttext.bmp"})
        EXPECT_TRUE(FileExists(std::string(kTestDestination) + "\\" + file)) << file;
    EXPECT_EQ(kTestDestination, ReadText(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath"));
    EXPECT_EQ("ktcnt", ReadText(HKEY_LOCAL_MACHINE, kEnumeratorPath, "EnumService"));
    EXPECT_EQ(MapWith({{0, 0x74}}), ReadBinary(HKEY_LOCAL_MACHINE, kEnumeratorPath, "COMPortMap"));
    EXPECT_EQ(MapWith({}), ReadBinary(HKEY_LOCAL_MACHINE, kEnumeratorPath, "LPTPortMap"));
    EXPECT_EQ("<missing>", ReadText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk"));
    EXPECT_EQ((std::vector<std::string>{"start ktcnt", "start ktsnt", "start ktpnt"}), standin::Log());
    for (const char* name : kDriverServices) EXPECT_EQ(SERVICE_RUNNING, standin::CurrentState(name)) << name;

    // AUTOSTARTDRIVERS starts nothing after an uninstallation: the services just deleted would
    // come back. (Whether a start would reach a deleted service is up to Wine's timing; the
    // attempt is what counts.)
    reboots.clear();
    atReboot = nullptr;
    HMODULE self = GetModuleHandleA(nullptr);
    realStartService = reinterpret_cast<decltype(realStartService)>(
        HookImport(self, "advapi32.dll", "StartServiceA", reinterpret_cast<void*>(CountServiceStart)));
    serviceStarts = 0;
    EXPECT_EQ(0, Run("-u -c " + Config(settings)));
    HookImport(self, "advapi32.dll", "StartServiceA", reinterpret_cast<void*>(realStartService));
    EXPECT_EQ(0, serviceStarts) << "services started after the uninstallation";
    EXPECT_EQ(std::vector<std::string>{}, Boxes());
    EXPECT_EQ(std::vector<UINT>{EWX_REBOOT | EWX_FORCE}, reboots);
    EXPECT_EQ(enumDacls, cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumPath));
    EXPECT_FALSE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kEnumeratorPath)) << "port maps written after removal";
    EXPECT_FALSE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    EXPECT_FALSE(FileExists(std::string(kTestDestination) + "\\ktcfg.cpl"));
    // Wine deletes the services of the first DelService line of each section only.
    for (const char* name : {"ktpptnt", "ktcnt"}) EXPECT_TRUE(WaitUntilServiceGone(name)) << name;
}

TEST_F(InstallerRun, FreshInstallAsksTheVersionQuestionAndPlacesTheDialogBelowTheBanner)
{
    const std::string offered = ProgramFilesDir() + "\\QARIX";
    SeenDialog destination;
    bool stillOpenAfterClose = false;
    const int result = Run("-c " + Config("ADMINNAME=" + userName + "\nNOREBOOT\n"), [&] {
        // Alt+F4 on the full-screen window while the worker runs is ignored.
        ASSERT_TRUE(guiauto::WaitUntil([] { return IsWindow(::Setup.window) != FALSE; }, 10000));
        SendMessageA(::Setup.window, WM_CLOSE, 0, 0);
        stillOpenAfterClose = IsWindow(::Setup.window) != FALSE;
        destination = Answer("Choose installation directory", IDOK, "installer_destination.png");
    });
    RemoveInstallation(offered);

    EXPECT_EQ(0, result);
    EXPECT_TRUE(stillOpenAfterClose);
    EXPECT_EQ(offered, destination.field);
    EXPECT_EQ(90, destination.rect.top) << "a 60-pixel banner puts the dialogs 90 pixels down";
    EXPECT_EQ(1024 - (destination.rect.right - destination.rect.left), 2 * destination.rect.left);
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(kConfirmV5, boxes.Boxes()[0].text);
    EXPECT_EQ(guiauto::BoxIcon::Question, boxes.Boxes()[0].icon);
    EXPECT_TRUE(reboots.empty());
}

// What COM said on the thread that showed the folder browser: S_FALSE when that thread already
// was in a single-threaded apartment.
HRESULT apartmentOfTheBrowser = E_FAIL;
decltype(&SHBrowseForFolderA) realBrowse;

LPITEMIDLIST WINAPI NoteApartmentAndBrowse(LPBROWSEINFOA info)
{
    apartmentOfTheBrowser = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(apartmentOfTheBrowser)) CoUninitialize();
    return realBrowse(info);
}

// The text of the folder browser's folder box.
std::string FolderText(HWND browser)
{
    HWND edit = FindWindowExA(browser, nullptr, "Edit", nullptr);
    return edit ? guiauto::WindowText(edit) : std::string("<no folder box>");
}

// The folder browser runs on the installer's worker thread, in a single-threaded apartment; the
// folder chosen there is taken.
TEST_F(InstallerRun, BrowseTakesTheChosenFolder)
{
    realBrowse = reinterpret_cast<decltype(realBrowse)>(
        HookImport(GetModuleHandleA(nullptr), "shell32.dll", "SHBrowseForFolderA", reinterpret_cast<void*>(NoteApartmentAndBrowse)));
    ASSERT_NE(realBrowse, nullptr);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string chosen = std::string(temp) + "kt_browse_target";
    CreateDirectoryA(chosen.c_str(), nullptr);
    char full[MAX_PATH];
    GetLongPathNameA(chosen.c_str(), full, sizeof full);
    chosen = full;
    std::string field;
    const int result = Run("-c " + Config("ADMINNAME=" + userName + "\nNOREBOOT\n"), [&] {
        HWND dialog = guiauto::WaitForWindow("#32770", "Choose installation directory", 30000);
        ASSERT_NE(dialog, nullptr);
        const std::vector<HWND> before = guiauto::ProcessWindows("#32770");
        guiauto::Click(dialog, 1002);  // Browse...
        HWND browser = nullptr;
        ASSERT_TRUE(guiauto::WaitUntil([&] {
            for (HWND window : guiauto::ProcessWindows("#32770"))
                if (window != dialog && IsWindowVisible(window) &&
                    std::find(before.begin(), before.end(), window) == before.end())
                    browser = window;
            return browser != nullptr;
        }, 10000)) << "no folder browser";
        // The browser first selects the program-files folder itself; the choice comes after.
        const std::string programFiles = ProgramFilesDir().substr(ProgramFilesDir().rfind('\\') + 1);
        ASSERT_TRUE(guiauto::WaitUntil([&] { return FolderText(browser) == programFiles; }, 10000))
            << "the browser did not start at the program-files folder: " << FolderText(browser);
        // A selection made while the browser still fills its tree may not hold: ask until it does.
        ASSERT_TRUE(guiauto::WaitUntil([&] {
            SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(chosen.c_str()));
            return guiauto::WaitUntil([&] { return FolderText(browser) == "kt_browse_target"; }, 300);
        }, 10000)) << "the folder was not selected: " << FolderText(browser);
        guiauto::WaitUntilPainted(nullptr);
        guiauto::SaveScreenshot(nullptr, guiauto::ScreenshotDir() + "/installer_browse.png");
        guiauto::Click(browser, IDOK);
        ASSERT_TRUE(guiauto::WaitUntil([&] { return !IsWindow(browser); }, 10000));
        guiauto::Flush(dialog);
        field = guiauto::WindowText(GetDlgItem(dialog, 1000));
        guiauto::Click(dialog, IDCANCEL);
    });
    HookImport(GetModuleHandleA(nullptr), "shell32.dll", "SHBrowseForFolderA", reinterpret_cast<void*>(realBrowse));
    RemoveDirectoryA(chosen.c_str());
    EXPECT_EQ(1, result);
    EXPECT_EQ(chosen, field);
    EXPECT_EQ(S_FALSE, apartmentOfTheBrowser) << "COM was not ready on the browser's thread";
}

TEST_F(InstallerRun, ReinstallChosenInTheDialogAsksNothing)
{
    PretendInstalledAt(kTestDestination);
    SeenDialog destination;
    EXPECT_EQ(0, Run("-c " + Config("ADMINNAME=" + userName + "\nNOREBOOT\n"), [&] {
        Answer("Installation type", 1003, "installer_installation_type.png");
        destination = Answer("Choose installation directory", IDOK);
    }));
    EXPECT_EQ(std::vector<std::string>{}, Boxes());
    EXPECT_EQ(kTestDestination, destination.field);
    EXPECT_TRUE(FileExists(std::string(kTestDestination) + "\\ktcfg.cpl"));
}

TEST_F(InstallerRun, UninstallFromTheDialogRunsWithoutConfirmationButMinusUAsks)
{
    const std::string config = Config("ADMINNAME=" + userName + "\nNOREBOOT\n");
    PretendInstalledAt(kTestDestination);
    boxes.SetAnswer(IDNO);
    EXPECT_EQ(1, Run("-u -c " + config));
    EXPECT_EQ(std::vector<std::string>{kConfirmUninstall}, Boxes());
    EXPECT_TRUE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));

    boxes.Clear();
    EXPECT_EQ(0, Run("-c " + config, [&] { Answer("Installation type", 1004); }));
    EXPECT_EQ(std::vector<std::string>{}, Boxes());
    EXPECT_FALSE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
}

TEST_F(InstallerRun, DestinationFromTheConfigurationSkipsTheDialogs)
{
    PretendInstalledAt("C:\\kt_elsewhere");
    EXPECT_EQ(0, Run("-c " + Config(QuietAdmin() + "NOREBOOT\nDESTPATH=" + kTestDestination + "\n")));
    EXPECT_EQ(std::vector<std::string>{}, Boxes());
    EXPECT_EQ(kTestDestination, ReadText(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath"));
}

TEST_F(InstallerRun, InitialisationAndConfigurationFailures)
{
    EXPECT_EQ(2, Run("-u -c " + Config(QuietAdmin())));
    EXPECT_EQ(std::vector<std::string>{"Unknown installer init error."}, Boxes());
    EXPECT_EQ(guiauto::BoxIcon::Error, boxes.Boxes()[0].icon);

    boxes.Clear();
    EXPECT_EQ(11, Run("-c C:\\kt_no_such_file.cfg"));
    EXPECT_EQ(std::vector<std::string>{"Configuration file was not found."}, Boxes());

    boxes.Clear();
    EXPECT_EQ(7, Run("-x"));
    EXPECT_EQ(std::vector<std::string>{"Bad parameter in the command line."}, Boxes());
    EXPECT_FALSE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
}

TEST_F(InstallerRun, AdministratorCheck)
{
    std::string upper = userName;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    // Past the check (the name compares without case), the run stops at the missing installation.
    EXPECT_EQ(2, Run("-u -c " + Config("QUIET\nADMINNAME=" + upper + "\n")));

    boxes.Clear();
    EXPECT_EQ(1, Run("-c " + Config("QUIET\nADMINNAME=\n")));
    EXPECT_EQ(std::vector<std::string>{}, Boxes());

    boxes.SetAnswer(IDNO);
    EXPECT_EQ(1, Run("-c " + Config("ADMINNAME=somebody else\n")));
    EXPECT_EQ(std::vector<std::string>{kNotAdministrator}, Boxes());
    EXPECT_EQ(guiauto::BoxIcon::Question, boxes.Boxes()[0].icon);
}

TEST_F(InstallerRun, OldInstallationCheck)
{
    ASSERT_EQ(ERROR_SUCCESS, standin::Register("ktpcipar", STANDIN_SERVICE_PATH));
    boxes.SetAnswer(IDNO);
    EXPECT_EQ(1, Run("-c " + Config("ADMINNAME=" + userName + "\n")));
    EXPECT_EQ(std::vector<std::string>{kOldInstallation}, Boxes());
    EXPECT_EQ(guiauto::BoxIcon::Error, boxes.Boxes()[0].icon);

    // FORCE goes on to the administrator check, which QUIET ends silently for another user.
    boxes.Clear();
    EXPECT_EQ(1, Run("-c " + Config("FORCE\nQUIET\nADMINNAME=nobody\n")));
    EXPECT_EQ(std::vector<std::string>{}, Boxes());

    // QUIET alone declines the old installation silently, before the administrator question.
    EXPECT_EQ(1, Run("-c " + Config("QUIET\nADMINNAME=" + userName + "\n")));
    EXPECT_EQ(std::vector<std::string>{}, Boxes());
    standin::Remove("ktpcipar");
}

TEST_F(InstallerRun, DecliningTheRebootSkipsThePostInstallSteps)
{
    ASSERT_EQ(ERROR_SUCCESS, cardsim::SetText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk", "ktcfg check"));
    const std::string config = Config("ADMINNAME=" + userName + "\nNOUSERINFO\nAUTOSTARTDRIVERS\nDESTPATH=" +
                                      kTestDestination + "\nCOMEXCLUDE=1\n");
    // Yes to the version question, No to the reboot.
    boxes.SetAnswers({IDYES, IDNO});
    EXPECT_EQ(1, Run("-c " + config));
    EXPECT_EQ((std::vector<std::string>{kConfirmV5, kRebootInstall}), Boxes());
    EXPECT_EQ(guiauto::BoxIcon::Information, boxes.Boxes()[1].icon);
    EXPECT_TRUE(reboots.empty());
    EXPECT_TRUE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kEnumeratorPath));
    EXPECT_EQ(std::vector<uint8_t>{}, ReadBinary(HKEY_LOCAL_MACHINE, kEnumeratorPath, "COMPortMap"));
    EXPECT_EQ("ktcfg check", ReadText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk"));
    EXPECT_EQ(std::vector<std::string>{}, standin::Log());
    SHDeleteValueA(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk");
}

BOOL WINAPI RefuseReboot(UINT, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(InstallerRun, FailedRebootRequestIsReportedWithTheSystemText)
{
    InstallerRebootRequest = RefuseReboot;
    EXPECT_EQ(9, Run("-c " + Config(QuietAdmin() + "DESTPATH=" + kTestDestination + "\n")));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(0u, Boxes()[0].find("The system have to be rebooted manually. Be sure that all Qarix cards are plugged "
                                  "in. The system passed following message:\n"));
    EXPECT_GT(Boxes()[0].size(), 130u) << "the system's text follows";
}

HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(InstallerRun, WorkerThatCannotStartIsReportedAndFailsTheRun)
{
    HMODULE self = GetModuleHandleA(nullptr);
    void* real = HookImport(self, "kernel32.dll", "CreateThread", reinterpret_cast<void*>(RefuseThread));
    ASSERT_NE(nullptr, real);
    const int result = Run("-c " + Config(QuietAdmin()));
    HookImport(self, "kernel32.dll", "CreateThread", real);
    EXPECT_EQ(5, result);
    ASSERT_EQ(1u, Boxes().size()) << "the error box is shown before the window goes";
    EXPECT_EQ(guiauto::BoxIcon::Error, boxes.Boxes()[0].icon);
}

TEST_F(InstallerRun, ServiceStartWaitsForEachExistingServiceAtMostTenSeconds)
{
    DWORD started = GetTickCount();
    StartInstalledServices();
    EXPECT_LT(GetTickCount() - started, 1000u) << "missing services cost no waiting";

    ASSERT_EQ(ERROR_SUCCESS, standin::Register("ktpnt", STANDIN_SERVICE_PATH));
    standin::Behaviour slow;
    slow.startDelayMs = 14000;  // well past the installer's wait
    ASSERT_EQ(ERROR_SUCCESS, standin::SetBehaviour("ktpnt", slow));
    started = GetTickCount();
    StartInstalledServices();
    const DWORD waited = GetTickCount() - started;
    std::printf("service that does not run in time: %lu ms\n", waited);
    EXPECT_GE(waited, 10000u);
    EXPECT_LT(waited, 12500u);
    EXPECT_EQ(std::vector<std::string>{"start ktpnt"}, standin::Log());
    // A start still pending when the test ends would keep Wine's service manager waiting for it,
    // and a service deleted by the next test would stay until then.
    EXPECT_TRUE(guiauto::WaitUntil([] { return standin::CurrentState("ktpnt") == SERVICE_RUNNING; }, 10000));
}

}  // namespace
