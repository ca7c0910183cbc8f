// Every call of the tool's data layer that can fail is failed once, in the flows that change the
// system: the changes written on OK, and the drivers restarted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/device_changes.h"
#include "data/driver_info.h"
#include "data/inventory.h"
#include "data/port_maps.h"
#include "data/registry_paths.h"
#include "data/service_control.h"
#include "fault_sweep.h"
#include "key_security.h"
#include "simulated_registry.h"
#include "standin.h"

namespace {

const char* const kServices[] = {cardsim::kEnumService, cardsim::kSerService, cardsim::kParService,
                                 cardsim::kParMiniService};
// Administrators may read the tree and change its DACLs, but not write: every write needs a grant.
// The ports' DACLs differ from their card's, so a port given its card's DACL back is seen.
const char kReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)";
const char kPortReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)(A;;KR;;;WD)";

void ExpectSound(const faultsweep::Report& report)
{
    std::printf("%zu call points at %zu sites, %zu runs, %.1f s\n", report.points, report.sites, report.runs,
                report.seconds);
    EXPECT_GT(report.points, 0u);
    for (const std::string& text : report.breaks) ADD_FAILURE() << text;
}

class FaultSweep : public SimulatedRegistry {
protected:
    void TearDown() override
    {
        cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, "D:(A;;KA;;;BA)(A;;KA;;;SY)");
        for (const char* name : kServices) standin::Remove(name);
        standin::ClearLog();
        SimulatedRegistry::TearDown();
    }
    bool NoBoxes() { return boxes.Texts().empty(); }
    faultsweep::State EnumeratorState() { return faultsweep::RegistryState(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath); }
};

PortEntry* PortAt(const std::string& path)
{
    for (PortEntry& port : PortList)
        if (path == port.keyPath) return &port;
    return nullptr;
}

// What the user did in the main window before OK: a card disabled, a port enabled, a port and a
// whole card removed, a COM number reserved.
TEST_F(FaultSweep, ChangesWrittenOnOk)
{
    cardsim::Layout layout;
    layout.serialPerCard = 2;
    layout.disabledPorts = {{1, 2}};
    const cardsim::Installation installation = cardsim::BuildInstallation(layout);
    const std::string card0 = cardsim::CardPath(installation.cards[0]);
    // Composed here: the flow's own allocations would be swept too.
    const std::string enabledPort = card0 + "\\0001", removedPort = card0 + "\\0002";
    faultsweep::Flow flow;
    flow.prepare = [&] {
        // A run that broke an invariant may have left keys without access for anyone.
        cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, "D:(A;;KA;;;BA)(A;;KA;;;SY)");
        cardsim::RemoveAll();
        Install(installation);
        cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, kReadOnly);
        for (const cardsim::Card& card : installation.cards)
            for (const cardsim::Port& port : card.ports)
                cardsim::SetDacl(HKEY_LOCAL_MACHINE, cardsim::PortPath(card, port), kPortReadOnly);
        boxes.Clear();
    };
    flow.run = [&] {
        GetConfiguration();
        if (!NoBoxes() || CardList.size() != 2) return false;
        const int flipped = card0 == CardList[0].keyPath ? 0 : 1;
        CardList[flipped].enabled = 0;
        CardList[flipped].modified = 1;
        CardList[1 - flipped].remove = 1;
        PortEntry* enabled = PortAt(enabledPort);
        PortEntry* removed = PortAt(removedPort);
        if (!enabled || !removed) return false;
        enabled->enabled = 1;
        enabled->modified = 1;
        removed->remove = 1;
        ReservePort(ComPortMap, 7);
        bool success = true;
        for (int (*step)() : {SaveCards, SavePorts, RemovePorts, RemoveCards, SavePortMaps}) success &= step() > 0;
        return success;
    };
    flow.state = [&] { return EnumeratorState(); };
    ExpectSound(faultsweep::Sweep({GetModuleHandleA(nullptr)}, flow));
}

// "Restart Drivers": every service stopped and started again, the port drivers set to start
// automatically.
TEST_F(FaultSweep, DriversRestarted)
{
    ServicePollPause = [] { Sleep(10); };
    Install();
    faultsweep::Flow flow;
    for (const char* name : kServices) ASSERT_EQ(standin::Register(name, STANDIN_SERVICE_PATH), 0u) << name;
    flow.prepare = [&] {
        for (const char* name : kServices) {
            if (standin::StartType(name) != SERVICE_DEMAND_START)
                standin::Register(name, STANDIN_SERVICE_PATH);
            if (standin::CurrentState(name) != SERVICE_RUNNING) standin::Start(name);
        }
        boxes.Clear();
    };
    flow.run = [&] {
        return GetDriverInfo() == kResultOk && ControlServices(kFullRestartFlag) == 1 && NoBoxes();
    };
    flow.state = [&] {
        faultsweep::State state;
        for (const char* name : kServices) {
            // A restart that failed has stopped what it could not start again, and says so.
            state[std::string("result:state of ") + name] = std::to_string(standin::CurrentState(name));
            state[std::string("result:start type of ") + name] = std::to_string(standin::StartType(name));
        }
        return state;
    };
    ExpectSound(faultsweep::Sweep({GetModuleHandleA(nullptr)}, flow));
}

}  // namespace
