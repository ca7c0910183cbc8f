// Every call of the page provider that can fail is failed once while a port's settings are
// loaded, changed on the Settings page and stored with OK.
#include "fault_sweep.h"
#include "provider_fixture.h"

namespace {

constexpr int kBaudRateList = 1001;

TEST_F(Provider, FaultSweepOverStoringTheSettings)
{
    guiauto::MessageBoxCatcher errors("Qarix Serial Port Settings");
    SetFunctionality(921600, 7);
    // What OK stores, stored once before: a setting read wrongly would be written over it.
    SetProfile(L"115200,e,7,1.5,x");
    RunSheet([&](HWND window, HWND) { Press(window, PSBTN_OK); });
    const faultsweep::State stored = faultsweep::RegistryState(HKEY_LOCAL_MACHINE, portPath);

    faultsweep::Flow flow;
    flow.prepare = [&] {
        cardsim::RemoveAll();
        ASSERT_EQ(cardsim::Write(installation), ERROR_SUCCESS);
        faultsweep::WriteValues(HKEY_LOCAL_MACHINE, stored);
        SetProfile(L"115200,e,7,1.5,x");
        errors.Clear();
    };
    flow.run = [&] {
        sheethost::Sheet runSheet(KTS2KUI_PATH);
        if (!runSheet.AddPages(portPath.c_str())) return false;  // no pages: the host shows none
        std::thread driver([&] {
            HWND window = guiauto::WaitForWindow("#32770", "Port properties", 20000);
            if (!window) return;
            auto page = reinterpret_cast<HWND>(SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0));
            SendDlgItemMessageW(page, kBaudRateList, CB_SETCURSEL, 3, 0);
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(kBaudRateList, CBN_SELENDOK),
                         reinterpret_cast<LPARAM>(GetDlgItem(page, kBaudRateList)));
            Press(window, PSBTN_OK);
            guiauto::WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, 20000);
        });
        runSheet.Show(nullptr, L"Port properties");
        driver.join();
        return errors.Texts().empty();
    };
    flow.state = [&] {
        faultsweep::State state = faultsweep::RegistryState(HKEY_LOCAL_MACHINE, portPath);
        const std::wstring line = Profile();
        state["profile:COM3:"] = std::string(line.begin(), line.end());
        return state;
    };
    guiauto::Watchdog watchdog(170000);
    const faultsweep::Report report = faultsweep::Sweep({GetModuleHandleA("KTS2KUI.dll")}, flow);
    std::printf("%zu call points at %zu sites, %zu runs, %.1f s\n", report.points, report.sites, report.runs,
                report.seconds);
    EXPECT_GT(report.points, 0u);
    for (const std::string& text : report.breaks) ADD_FAILURE() << text;
}

}  // namespace
