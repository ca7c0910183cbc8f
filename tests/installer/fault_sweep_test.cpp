// Every call of the installer that can fail is failed once, in a quiet installation and a quiet
// uninstallation from the package.
#include <shlwapi.h>

#include "cardsim.h"
#include "fault_sweep.h"
#include "installer.h"
#include "installer_harness.h"
#include "key_security.h"

namespace {

const char kMachineRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kServicesPath[] = "SYSTEM\\CurrentControlSet\\Services\\";

class InstallerSweep : public InstallerHarness {
protected:
    // What an installation changes: the enumeration tree's DACLs, the enumerator's tree, the
    // product key, the services' keys, the run key and the installed files.
    static faultsweep::State SystemState()
    {
        faultsweep::State state;
        for (const auto& [key, dacl] : cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, kEnumPath))
            if (key.rfind("QARIXBUS", 0) != 0) state["dacl:" + std::string(kEnumPath) + (key.empty() ? "" : "\\") + key] = dacl;
        for (const std::string& path : {std::string(cardsim::kEnumeratorPath), std::string(kProductKey),
                                        std::string(kMachineRun)})
            state.merge(faultsweep::RegistryState(HKEY_LOCAL_MACHINE, path));
        for (const char* service : kDriverServices)
            state.merge(faultsweep::RegistryState(HKEY_LOCAL_MACHINE, kServicesPath + std::string(service)));
        for (const char* file : {"ktcfg.cpl", "KTS2KUI.dll", "install.exe", "ktsvc.exe", "kttext.bmp"})
            state[std::string("file:") + file] = FileExists(std::string(kTestDestination) + "\\" + file) ? "yes" : "no";
        return state;
    }
    void SetUp() override
    {
        InstallerHarness::SetUp();
        // Administrators may read the enumeration tree but not change it: the installer has to
        // take access for its INF step and give it back afterwards.
        ASSERT_EQ(ERROR_SUCCESS, cardsim::SetDacl(HKEY_LOCAL_MACHINE, kEnumPath, "D:(A;;KRWD;;;BA)(A;;KA;;;SY)"));
    }
    faultsweep::Report Sweep(const std::string& commandLine, const std::function<void()>& prepare)
    {
        faultsweep::Flow flow;
        flow.prepare = [&] {
            prepare();
            boxes.Clear();
        };
        // The exit status is what the caller of a quiet run sees.
        flow.run = [&] { return RunInstallerProgram(GetModuleHandleA(nullptr), commandLine.c_str()) == 0; };
        flow.state = SystemState;
        guiauto::Watchdog watchdog(3600000);  // a hang in any run; the runs themselves take seconds
        const faultsweep::Report report = faultsweep::Sweep({GetModuleHandleA(nullptr)}, flow);
        std::printf("%zu call points at %zu sites, %zu runs, %.1f s\n", report.points, report.sites, report.runs,
                    report.seconds);
        EXPECT_GT(report.points, 0u);
        for (const std::string& text : report.breaks) ADD_FAILURE() << text;
        return report;
    }
    void Installed(const std::string& commandLine)
    {
        RemoveInstallation(kTestDestination);
        ASSERT_EQ(0, RunInstallerProgram(GetModuleHandleA(nullptr), commandLine.c_str()));
    }

private:
    SavedKeySecurity enumSecurity_{kEnumPath};  // taken before SetUp restricts it
};

const char kQuietSettings[] = "NOREBOOT\nNOUSERINFO\nCOMEXCLUDE=3,5-7\nLPTEXCLUDE=2\nDESTPATH=";

TEST_F(InstallerSweep, QuietInstallation)
{
    const std::string install = "-c " + Config(QuietAdmin() + kQuietSettings + kTestDestination + "\n");
    Sweep(install, [&] {
        RemoveInstallation(kTestDestination);
        cardsim::SetText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk", "ktcfg check");
    });
    SHDeleteValueA(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk");
}

TEST_F(InstallerSweep, QuietUninstallation)
{
    const std::string settings = QuietAdmin() + kQuietSettings + kTestDestination + "\n";
    const std::string install = "-c " + Config(settings), uninstall = "-u -c " + Config(settings);
    Sweep(uninstall, [&] { Installed(install); });
}

}  // namespace
