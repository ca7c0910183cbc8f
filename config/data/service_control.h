// Stopping and starting the driver services through the Service Control Manager, the
// stop-unused-services switch, and the reboot request.
#pragma once

#include <windows.h>

#include <cstdint>

// Selection flags of ControlServices.
enum ServiceSelection : uint32_t {
    kSerialServiceFlag = 0x1,         // SerService
    kParallelServiceFlag = 0x2,       // ParService
    kEnumeratorServiceFlag = 0x4,     // EnumService; selects the three port services as well
    kParallelMiniServiceFlag = 0x10,  // ParMiniService
    kFullRestartFlag = 0x80000000u,   // all four; port services set to automatic start
};

// A status wait looks at once, then up to kServicePolls times after a pause of kServicePollMs:
// about 30 seconds in all, while a service that is already there costs nothing.
constexpr DWORD kServicePollMs = 10;
constexpr int kServicePolls = 30000 / kServicePollMs;

// Stops the selected services (port drivers first) and starts them again (enumerator first).
// 1 success (also for flags 0), 0 failure.
int ControlServices(uint32_t flags);

int StopDriverService(SC_HANDLE manager, const char* name);   // 1 stopped in time, else 0
int StartDriverService(SC_HANDLE manager, const char* name);  // nonzero started, 0 failed
int WaitServiceState(SC_HANDLE service, DWORD state);         // 1 reached, 0 after the last poll
bool SetServiceStartType(SC_HANDLE manager, const char* name, DWORD startType);  // false: not changed
int IsServiceUsed(const char* name);

int GetStopUnusedServices();        // 1 when StopUnusedServices is on
int SetStopUnusedServices(int on);  // 1, -1, -2

// Reboots the computer (forced), with the shutdown privilege enabled for the request only.
// A refused request is shown in a "Failure" box with the system error code.
void RebootSystem();

// The pause between two service status polls (kServicePollMs). Process-wide so that a test program
// can shorten it; nothing else changes it.
extern void (*ServicePollPause)();

// The reboot request itself (ExitWindowsEx). A test program replaces it: under Wine a real
// request ends every program of the prefix.
extern BOOL(WINAPI* RebootRequest)(UINT flags, DWORD reason);
