// Every call of the tool that can fail is failed once in the flows of its windows that change
// the system: OK in the main window after changes, a device's property sheet opened and closed,
// OK in the reserved ports dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <thread>

#include "data/driver_info.h"
#include "data/inventory.h"
#include "fault_sweep.h"
#include "key_security.h"
#include "standin.h"
#include "tool_harness.h"
#include "ui/property_sheet.h"
#include "ui/reserved_ports.h"

namespace {

const char* const kServices[] = {cardsim::kEnumService, cardsim::kSerService, cardsim::kParService,
                                 cardsim::kParMiniService};
// Administrators may read the tree and change its DACLs, but not write: every write needs a grant.
// The ports' DACLs differ from their card's, so a port given its card's DACL back is seen.
const char kReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)";
const char kPortReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)(A;;KR;;;WD)";
const char kFullAccess[] = "D:(A;;KA;;;BA)(A;;KA;;;SY)";

class ToolSweep : public ToolHarness {
protected:
    void TearDown() override
    {
        cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, kFullAccess);
        ToolHarness::TearDown();
    }
    // A fresh installation whose tree needs a grant for every write; the services running when
    // registered.
    void Prepare(bool services = false)
    {
        cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, kFullAccess);
        cardsim::RemoveAll();
        const cardsim::Installation installation = Install();
        cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, kReadOnly);
        for (const cardsim::Card& card : installation.cards)
            for (const cardsim::Port& port : card.ports)
                cardsim::SetDacl(HKEY_LOCAL_MACHINE, cardsim::PortPath(card, port), kPortReadOnly);
        for (const char* name : kServices)
            if (services && standin::CurrentState(name) != SERVICE_RUNNING) standin::Start(name);
        boxes.Clear();
    }
    static faultsweep::State EnumeratorState()
    {
        return faultsweep::RegistryState(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath);
    }
    void Sweep(const faultsweep::Flow& flow)
    {
        const faultsweep::Report report = faultsweep::Sweep({GetModuleHandleA(nullptr)}, flow);
        std::printf("%zu call points at %zu sites, %zu runs, %.1f s\n", report.points, report.sites, report.runs,
                    report.seconds);
        EXPECT_GT(report.points, 0u);
        for (const std::string& text : report.breaks) ADD_FAILURE() << text;
    }
    bool NoBoxes() { return Boxes().empty(); }
    // Runs show() on this thread, its calls counted; drive() gets its window on a second one,
    // unless show() returns without one (a failure it has said).
    static void WhileShown(const std::function<void()>& show, const char* caption,
                           const std::function<void(HWND)>& drive)
    {
        guiauto::Watchdog watchdog(60000);
        std::atomic<bool> returned{false};
        std::thread driver([&] {
            HWND window = nullptr;
            guiauto::WaitUntil([&] {
                const std::vector<HWND> found = guiauto::ProcessWindows("#32770", caption);
                window = found.empty() ? nullptr : found[0];
                return returned || window;
            }, 20000);
            if (!window || returned) return;
            guiauto::Flush(window);
            drive(window);
        });
        std::exception_ptr escaped;
        faultsweep::CountFrom(GetCurrentThreadId());
        try {
            show();
        } catch (...) {
            escaped = std::current_exception();
        }
        faultsweep::StopCounting();
        returned = true;
        driver.join();
        if (escaped) std::rethrow_exception(escaped);
    }
};

// A card disabled and a port removed in the main window, then OK: the enable state and the
// removal written, the enumerator and the port drivers restarted.
TEST_F(ToolSweep, OkInTheMainWindowAfterChanges)
{
    RegisterServices();
    const DWORD toolThread = GetCurrentThreadId();
    faultsweep::Flow flow;
    flow.countsFromMark = true;
    // Its data-layer calls are swept twice per site by FaultSweep.ChangesWrittenOnOk; each run
    // here starts the tool and restarts services, so once per site.
    flow.callsPerSite = 1;
    flow.prepare = [&] { Prepare(true); };
    flow.run = [&] {
        RunTool([&] {
            Select(ItemWithCode("KT Cards", kCardItemBase + 1));
            Click(IDC_ENABLE_DISABLE);
            Select(ItemWithCode("KT Cards", kPortItemBase + 1));
            Click(IDC_REMOVE);
            Sync();
            faultsweep::CountFrom(toolThread);
            Click(IDOK);
            WaitUntilClosed();
        });
        faultsweep::StopCounting();
        return NoBoxes();
    };
    // Remove also disables: a removal that failed leaves the port disabled, as written before it.
    const cardsim::Installation installation = cardsim::BuildInstallation({});
    const std::string removedPort = cardsim::PortPath(installation.cards[0], installation.cards[0].ports[1]);
    flow.state = [&] {
        faultsweep::State state;
        for (auto& [name, value] : EnumeratorState())
            state[name.rfind(removedPort + ":", 0) == 0 ? "result:" + name : name] = value;
        for (const char* name : kServices)
            state[std::string("result:state of ") + name] = std::to_string(standin::CurrentState(name));
        return state;
    };
    Sweep(flow);
}

// A port's sheet opened (its key granted while it is open) and closed with OK.
TEST_F(ToolSweep, DeviceSheetOpenedAndClosed)
{
    faultsweep::Flow flow;
    flow.countsFromMark = true;
    flow.prepare = [&] {
        Prepare();
        GetDriverInfo();
        GetConfiguration();
        kt::CopyText(PortOf(kPortItemBase)->EnumPropPages, kTextChars, KTS2KUI_PATH);
    };
    flow.run = [&] {
        WhileShown(
            [] { ShowDevicePropertySheet(nullptr, kPortItemBase); }, "Qarix Serial Port",
            [](HWND sheet) { PostMessageA(sheet, WM_COMMAND, IDOK, 0); });
        return NoBoxes();
    };
    flow.state = EnumeratorState;
    Sweep(flow);
}

// COM7 reserved in the reserved ports dialog, then OK.
TEST_F(ToolSweep, OkInTheReservedPortsDialog)
{
    faultsweep::Flow flow;
    flow.countsFromMark = true;
    flow.prepare = [&] { Prepare(); };
    flow.run = [&] {
        WhileShown([] { ShowReservedPortsDialog(nullptr); }, "KTCfgNt", [](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_COM_EDIT, "7");
            guiauto::Click(dialog, IDC_COM_ADD);
            // OK with the focus in an edit box would add what it holds instead.
            PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);
            guiauto::Flush(dialog);
            guiauto::Click(dialog, IDOK);
        });
        return NoBoxes();
    };
    flow.state = EnumeratorState;
    Sweep(flow);
}

}  // namespace
