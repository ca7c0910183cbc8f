#include "data/service_control.h"

#include <cstring>

#include "data/driver_info.h"
#include "data/inventory.h"
#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"
#include "runtime/format.h"

namespace {

void PauseBetweenPolls()
{
    Sleep(kServicePollMs);
}

class ServiceHandle {
public:
    ServiceHandle(SC_HANDLE manager, const char* name, DWORD access)
        : handle_(OpenServiceA(manager, name, access))
    {
    }
    ~ServiceHandle()
    {
        if (handle_) CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    explicit operator bool() const { return handle_ != nullptr; }
    SC_HANDLE get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

struct SelectedService {
    uint32_t flag;
    const char* name;
};

// Stop order: port drivers before the bus enumerator. The start order is the reverse.
void StopOrder(SelectedService (&services)[4])
{
    services[0] = {kParallelMiniServiceFlag, DriverInfo.ParMiniService};
    services[1] = {kParallelServiceFlag, DriverInfo.ParService};
    services[2] = {kSerialServiceFlag, DriverInfo.SerService};
    services[3] = {kEnumeratorServiceFlag, DriverInfo.EnumService};
}

// 1 when every service was started and every port driver set to start automatically: a driver
// left stopped, or one that would not start with the next boot, is a failure the caller may show.
int FullRestart(SC_HANDLE manager)
{
    SelectedService services[4];
    StopOrder(services);
    for (const SelectedService& s : services) StopDriverService(manager, s.name);
    int result = 1;
    for (int i = 3; i >= 0; --i) {
        if (std::strcmp(services[i].name, DriverInfo.EnumService) != 0 &&
            !SetServiceStartType(manager, services[i].name, SERVICE_AUTO_START))
            result = 0;
        if (!StartDriverService(manager, services[i].name)) result = 0;
    }
    return result;
}

int PartialRestart(SC_HANDLE manager, uint32_t flags)
{
    if (flags & kEnumeratorServiceFlag)
        flags |= kSerialServiceFlag | kParallelServiceFlag | kParallelMiniServiceFlag;
    SelectedService services[4];
    StopOrder(services);
    for (const SelectedService& s : services)
        if (flags & s.flag) StopDriverService(manager, s.name);
    int result = 1;
    for (int i = 3; i >= 0; --i) {
        const SelectedService& s = services[i];
        if (!(flags & s.flag)) continue;
        if (GetStopUnusedServices() && !IsServiceUsed(s.name))
            SetServiceStartType(manager, s.name, SERVICE_DEMAND_START);
        else if (!StartDriverService(manager, s.name))
            result = 0;
    }
    return result;
}

bool IsStopped(SC_HANDLE service)
{
    SERVICE_STATUS status;
    return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
}

bool SetShutdownPrivilege(HANDLE token, bool enable)
{
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    return LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
           AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;
}

}  // namespace

void (*ServicePollPause)() = PauseBetweenPolls;
BOOL(WINAPI* RebootRequest)(UINT flags, DWORD reason) = ExitWindowsEx;

int ControlServices(uint32_t flags)
{
    if (flags == 0) return 1;
    SC_HANDLE manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    if (!manager) return 0;
    const int result = flags & kFullRestartFlag ? FullRestart(manager) : PartialRestart(manager, flags);
    CloseServiceHandle(manager);
    return result;
}

int StopDriverService(SC_HANDLE manager, const char* name)
{
    ServiceHandle service(manager, name, SERVICE_ALL_ACCESS);
    if (!service) return 0;
    SERVICE_STATUS status;
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return 0;
    return WaitServiceState(service.get(), SERVICE_STOPPED);
}

int StartDriverService(SC_HANDLE manager, const char* name)
{
    ServiceHandle service(manager, name, SERVICE_ALL_ACCESS);
    if (!service) return 0;
    for (int attempt = 0;; ++attempt) {
        if (StartServiceA(service.get(), 0, nullptr))
            return WaitServiceState(service.get(), SERVICE_RUNNING);
        // A service that already runs is what a start is meant to achieve; every other refusal is
        // a failure.
        const DWORD refusal = GetLastError();
        if (refusal != ERROR_SERVICE_ALREADY_RUNNING) return 0;
        // A service that has just reported STOPPED may still be ending, and until it has, its
        // start is refused as already running: try again after a pause. One that is still
        // stopping has had its wait already.
        if (attempt == kServicePolls || !IsStopped(service.get())) return static_cast<int>(refusal);
        ServicePollPause();
    }
}

int WaitServiceState(SC_HANDLE service, DWORD state)
{
    for (int poll = 0;; ++poll) {
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) return 1;
        if (poll == kServicePolls) return 0;
        ServicePollPause();
    }
}

bool SetServiceStartType(SC_HANDLE manager, const char* name, DWORD startType)
{
    ServiceHandle service(manager, name, SERVICE_CHANGE_CONFIG);
    return service && ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

int IsServiceUsed(const char* name)
{
    if (std::strcmp(name, DriverInfo.EnumService) == 0) return 1;
    for (const PortEntry& port : PortList)
        if (!port.remove && std::strstr(port.DriverName, name)) return 1;
    return 0;
}

int GetStopUnusedServices()
{
    ScopedKey product(HKEY_LOCAL_MACHINE, ProductKeyPath);
    DWORD on = 0;
    return product && GetDwordValue("StopUnusedServices", product.get(), &on) && on ? 1 : 0;
}

int SetStopUnusedServices(int on)
{
    ScopedKey product(HKEY_LOCAL_MACHINE, ProductKeyPath);
    if (!product)
        return SetKeyProblem(kMachineRootName, ProductKeyPath, "for stopping unused services");
    const DWORD value = static_cast<DWORD>(on);
    if (RegSetValueExA(product.get(), "StopUnusedServices", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof value) != ERROR_SUCCESS)
        return kResultSaveFailed;
    return kResultOk;
}

void RebootSystem()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        token = nullptr;
    const bool enabled = token && SetShutdownPrivilege(token, true);
    if (!RebootRequest(EWX_REBOOT | EWX_FORCE, 0)) {
        char text[128];
        kt::Format(text, sizeof text, "The computer cannot be rebooted (error code %lu).",
                      GetLastError());
        MessageBoxA(nullptr, text, "Failure", MB_OK | MB_ICONERROR);
    }
    if (enabled) SetShutdownPrivilege(token, false);
    if (token) CloseHandle(token);
}
