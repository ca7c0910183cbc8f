// Service control against Wine's real Service Control Manager, with stand-in services registered
// under the names the simulated installation gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/driver_info.h"
#include "data/inventory.h"
#include "data/registry_paths.h"
#include "data/service_control.h"
#include "import_hook.h"
#include "simulated_registry.h"
#include "standin.h"

namespace {

using Events = std::vector<std::string>;

const char* const kServices[] = {cardsim::kEnumService, cardsim::kSerService, cardsim::kParService,
                                 cardsim::kParMiniService};

const Events kFullCycle = {"stop ktpnt",  "stop ktpptnt", "stop ktsnt",  "stop ktcnt",
                           "start ktcnt", "start ktsnt",  "start ktpptnt", "start ktpnt"};

void ShortPause()
{
    Sleep(10);
}

class DriverServices : public SimulatedRegistry {
protected:
    void SetUp() override
    {
        SimulatedRegistry::SetUp();
        ServicePollPause = ShortPause;
        for (const char* name : kServices) {
            ASSERT_EQ(standin::Register(name, STANDIN_SERVICE_PATH), 0u) << name;
            ASSERT_EQ(standin::Start(name), 0u) << name;
        }
        Install();
        ASSERT_EQ(GetDriverInfo(), kResultOk);
        CardList.clear();
        PortList.clear();
        ASSERT_EQ(GetCards(), kResultOk);
        ASSERT_EQ(GetPorts(), kResultOk);
        standin::ClearLog();
    }
    void TearDown() override
    {
        for (const char* name : kServices) standin::Remove(name);
        standin::ClearLog();
        cardsim::DeleteTree(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath);
        SimulatedRegistry::TearDown();
    }
    void ExpectAllRunning()
    {
        for (const char* name : kServices) EXPECT_EQ(standin::CurrentState(name), DWORD(SERVICE_RUNNING)) << name;
    }
    void SwitchStopUnused(int on)
    {
        ASSERT_EQ(cardsim::SetDword(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "StopUnusedServices", on),
                  ERROR_SUCCESS);
    }
};

TEST_F(DriverServices, EnumeratorSelectionRestartsAllFourPortDriversFirst)
{
    EXPECT_EQ(ControlServices(kEnumeratorServiceFlag), 1);
    EXPECT_EQ(standin::Log(), kFullCycle);
    ExpectAllRunning();
}

TEST_F(DriverServices, FullRestartSetsThePortServicesToAutomaticStart)
{
    EXPECT_EQ(ControlServices(kFullRestartFlag), 1);
    EXPECT_EQ(standin::Log(), kFullCycle);
    ExpectAllRunning();
    EXPECT_EQ(standin::StartType(cardsim::kEnumService), DWORD(SERVICE_DEMAND_START));
    for (const char* name : {cardsim::kSerService, cardsim::kParService, cardsim::kParMiniService})
        EXPECT_EQ(standin::StartType(name), DWORD(SERVICE_AUTO_START)) << name;
}

TEST_F(DriverServices, SingleSelectionsTouchOnlyTheirServiceAndNoneTouchesNothing)
{
    EXPECT_EQ(ControlServices(0), 1);
    EXPECT_TRUE(standin::Log().empty());
    EXPECT_EQ(ControlServices(kSerialServiceFlag), 1);
    EXPECT_EQ(ControlServices(kParallelMiniServiceFlag | kParallelServiceFlag), 1);
    EXPECT_EQ(standin::Log(), (Events{"stop ktsnt", "start ktsnt", "stop ktpnt", "stop ktpptnt",
                                      "start ktpptnt", "start ktpnt"}));
    for (const char* name : kServices) EXPECT_EQ(standin::StartType(name), DWORD(SERVICE_DEMAND_START));
}

TEST_F(DriverServices, UnusedPortServiceIsStoppedAndSetToDemandStart)
{
    SwitchStopUnused(1);
    ASSERT_EQ(ControlServices(kFullRestartFlag), 1);  // every port service now starts automatically
    standin::ClearLog();

    // No port's DriverName contains "ktpnt"; the parallel ports are marked for removal.
    for (PortEntry& port : PortList)
        if (std::string(port.DriverName) == "ktpptnt.sys") port.remove = 1;
    EXPECT_EQ(IsServiceUsed(cardsim::kParMiniService), 0);
    EXPECT_EQ(IsServiceUsed(cardsim::kParService), 0);
    EXPECT_EQ(IsServiceUsed(cardsim::kEnumService), 1);
    EXPECT_EQ(ControlServices(kParallelMiniServiceFlag | kParallelServiceFlag | kSerialServiceFlag), 1);
    EXPECT_EQ(standin::Log(), (Events{"stop ktpnt", "stop ktpptnt", "stop ktsnt", "start ktsnt"}));
    EXPECT_EQ(standin::CurrentState(cardsim::kParMiniService), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(standin::StartType(cardsim::kParMiniService), DWORD(SERVICE_DEMAND_START));
    EXPECT_EQ(standin::StartType(cardsim::kParService), DWORD(SERVICE_DEMAND_START));
    EXPECT_EQ(standin::StartType(cardsim::kSerService), DWORD(SERVICE_AUTO_START));
}

TEST_F(DriverServices, AlreadyRunningCountsAsStartedAndAServiceRefusingToStopIsNoFailure)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_NE(StartDriverService(manager, cardsim::kSerService), 0);
    EXPECT_EQ(StartDriverService(manager, "nosuchservice"), 0);
    CloseServiceHandle(manager);

    ASSERT_EQ(standin::Stop(cardsim::kSerService), 0u);
    ASSERT_EQ(standin::SetBehaviour(cardsim::kSerService, {0, 0, true, false}), 0u);
    ASSERT_EQ(standin::Start(cardsim::kSerService), 0u);
    standin::ClearLog();
    EXPECT_EQ(ControlServices(kSerialServiceFlag), 1);
    EXPECT_TRUE(standin::Log().empty());
    EXPECT_EQ(standin::CurrentState(cardsim::kSerService), DWORD(SERVICE_RUNNING));
}

// A full restart goes on with the others, and says that one driver is not running.
TEST_F(DriverServices, ServiceThatCannotBeOpenedFailsEveryRestart)
{
    kt::CopyText(DriverInfo.SerService, "nosuchservice");
    EXPECT_EQ(ControlServices(kSerialServiceFlag), 0);
    EXPECT_EQ(ControlServices(kEnumeratorServiceFlag), 0);
    EXPECT_EQ(ControlServices(kFullRestartFlag), 0);
    const Events restartOfTheOthers = {"stop ktpnt", "stop ktpptnt", "stop ktcnt",
                                       "start ktcnt", "start ktpptnt", "start ktpnt"};
    Events expected = restartOfTheOthers;
    expected.insert(expected.end(), restartOfTheOthers.begin(), restartOfTheOthers.end());
    EXPECT_EQ(standin::Log(), expected);
}

TEST_F(DriverServices, ServiceThatFailsToStartFailsEveryRestart)
{
    ASSERT_EQ(standin::SetBehaviour(cardsim::kParMiniService, {0, 0, false, true}), 0u);
    EXPECT_EQ(ControlServices(kParallelMiniServiceFlag), 0);
    EXPECT_EQ(standin::CurrentState(cardsim::kParMiniService), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(ControlServices(kFullRestartFlag), 0);
    EXPECT_EQ(standin::CurrentState(cardsim::kEnumService), DWORD(SERVICE_RUNNING));
}

TEST_F(DriverServices, ServiceThatDoesNotStopInTimeDoesNotHoldUpTheOthers)
{
    // All the polls, without pauses, pass long before the serial service has stopped (also where
    // each status query is slow, as in the emulated 32-bit runs).
    ServicePollPause = [] {};
    ASSERT_EQ(standin::Stop(cardsim::kSerService), 0u);
    ASSERT_EQ(standin::SetBehaviour(cardsim::kSerService, {0, 60000, false, false}), 0u);
    ASSERT_EQ(standin::Start(cardsim::kSerService), 0u);
    standin::ClearLog();
    EXPECT_EQ(ControlServices(kEnumeratorServiceFlag), 1);
    EXPECT_EQ(standin::Log(), (Events{"stop ktpnt", "stop ktpptnt", "stop ktcnt", "start ktcnt",
                                      "start ktpptnt", "start ktpnt"}));
    EXPECT_EQ(standin::CurrentState(cardsim::kSerService), DWORD(SERVICE_STOP_PENDING));
    standin::Remove(cardsim::kSerService, 0);  // ends the still stopping stand-in at once
}

using StartServiceFunction = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPCSTR*);
StartServiceFunction realStartService;
int refusalsLeft;

// As the service manager answers while the process of a service that has just stopped is ending.
BOOL WINAPI StartRefusedWhileEnding(SC_HANDLE service, DWORD argc, LPCSTR* argv)
{
    if (refusalsLeft == 0) return realStartService(service, argc, argv);
    --refusalsLeft;
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
}

TEST_F(DriverServices, StoppedServiceRefusedAsAlreadyRunningIsStartedOnceItHasEnded)
{
    refusalsLeft = 2;
    realStartService = reinterpret_cast<StartServiceFunction>(
        HookImport(GetModuleHandleA(nullptr), "advapi32.dll", "StartServiceA",
                   reinterpret_cast<void*>(StartRefusedWhileEnding)));
    ASSERT_NE(realStartService, nullptr);
    const int result = ControlServices(kSerialServiceFlag);
    HookImport(GetModuleHandleA(nullptr), "advapi32.dll", "StartServiceA", reinterpret_cast<void*>(realStartService));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(refusalsLeft, 0);
    EXPECT_EQ(standin::Log(), (Events{"stop ktsnt", "start ktsnt"}));
    EXPECT_EQ(standin::CurrentState(cardsim::kSerService), DWORD(SERVICE_RUNNING));
}

TEST_F(DriverServices, StatusAlreadyReachedCostsNoPause)
{
    static int pauses;
    pauses = 0;
    ServicePollPause = [] { ++pauses; };
    SC_HANDLE manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceA(manager, cardsim::kSerService, SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(WaitServiceState(service, SERVICE_RUNNING), 1);
    EXPECT_EQ(pauses, 0);
    EXPECT_EQ(WaitServiceState(service, SERVICE_STOPPED), 0);
    EXPECT_EQ(pauses, kServicePolls);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(DriverServices, StopUnusedSwitchIsStoredInTheProductKey)
{
    EXPECT_EQ(SetStopUnusedServices(1), kResultKeyProblem);  // no product key yet
    EXPECT_EQ(std::string(KeyProblemText),
              std::string("Key problem with HKEY_LOCAL_MACHINE\\") + ProductKeyPath + " : for stopping unused services");
    KeyProblemText[0] = 0;
    EXPECT_EQ(GetStopUnusedServices(), 0);

    SwitchStopUnused(0);
    EXPECT_EQ(GetStopUnusedServices(), 0);
    EXPECT_EQ(SetStopUnusedServices(1), kResultOk);
    EXPECT_EQ(GetStopUnusedServices(), 1);
    EXPECT_EQ(SetStopUnusedServices(0), kResultOk);
    EXPECT_EQ(GetStopUnusedServices(), 0);
}

TEST_F(DriverServices, StopUnusedSwitchWithoutWriteAccessIsASaveFailure)
{
    SwitchStopUnused(1);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    // Read access only, for everybody.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    BYTE aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC, everyone);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);

    EXPECT_EQ(SetStopUnusedServices(0), kResultSaveFailed);
    EXPECT_EQ(GetStopUnusedServices(), 1);

    SetSecurityDescriptorDacl(&descriptor, FALSE, nullptr, FALSE);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(key);
    FreeSid(everyone);
}

// The reboot request is replaced: a real one would end every program of the prefix.
struct RebootProbe {
    static inline int calls;
    static inline UINT flags;
    static inline bool privilegeEnabled;
    static inline BOOL answer;

    static bool ShutdownPrivilegeEnabled()
    {
        HANDLE token;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        LUID luid;
        LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid);
        BYTE buffer[4096];
        DWORD size = 0;
        bool enabled = false;
        if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) {
            auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer);
            for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
                if (privileges->Privileges[i].Luid.LowPart == luid.LowPart &&
                    privileges->Privileges[i].Luid.HighPart == luid.HighPart)
                    enabled = privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED;
        }
        CloseHandle(token);
        return enabled;
    }
    static BOOL WINAPI Request(UINT requested, DWORD)
    {
        ++calls;
        flags = requested;
        privilegeEnabled = ShutdownPrivilegeEnabled();
        if (!answer) SetLastError(ERROR_NOT_READY);
        return answer;
    }
};

TEST(Reboot, AsksForAForcedRebootWithTheShutdownPrivilegeEnabledOnlyMeanwhile)
{
    guiauto::MessageBoxCatcher failures("Failure");
    RebootRequest = RebootProbe::Request;
    RebootProbe::calls = 0;
    RebootProbe::answer = TRUE;
    ASSERT_FALSE(RebootProbe::ShutdownPrivilegeEnabled());
    RebootSystem();
    EXPECT_EQ(RebootProbe::calls, 1);
    EXPECT_EQ(RebootProbe::flags, UINT(EWX_REBOOT | EWX_FORCE));
    EXPECT_TRUE(RebootProbe::privilegeEnabled);
    EXPECT_FALSE(RebootProbe::ShutdownPrivilegeEnabled());
    EXPECT_TRUE(failures.Texts().empty());

    RebootProbe::answer = FALSE;
    RebootSystem();
    EXPECT_EQ(RebootProbe::calls, 2);
    ASSERT_EQ(failures.Boxes().size(), 1u);
    EXPECT_NE(failures.Boxes()[0].text.find(std::to_string(ERROR_NOT_READY)), std::string::npos);
    EXPECT_FALSE(RebootProbe::ShutdownPrivilegeEnabled());
    RebootRequest = ExitWindowsEx;
}

}  // namespace
