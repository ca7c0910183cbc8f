// Stand-in driver services: one small Win32 service program (ktsvc.exe) registered under the
// driver service names, so that service control runs against the real Service Control Manager.
// Every start and stop is recorded with a sequence number; behaviour is set per service.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

constexpr char kBehaviourPath[] = "Software\\KtTest\\Standin";  // HKLM, one subkey per service
constexpr char kLogPath[] = "Software\\KtTest\\StandinLog";     // HKLM, values 0001, 0002, ...

struct Behaviour {
    DWORD startDelayMs = 0;  // START_PENDING this long before RUNNING
    DWORD stopDelayMs = 0;   // STOP_PENDING this long before STOPPED
    bool refuseStop = false; // does not accept the stop control
    bool failStart = false;  // reports STOPPED with an error instead of RUNNING
};

// Registers (or re-registers) name as an own-process service running program.
DWORD Register(const std::string& name, const std::string& program, DWORD startType = SERVICE_DEMAND_START);
// Stops (waiting up to timeoutMs) and deletes the service; missing services are fine.
DWORD Remove(const std::string& name, DWORD timeoutMs = 10000);
DWORD SetBehaviour(const std::string& name, const Behaviour& behaviour);

// Direct control, for preparing a test.
DWORD Start(const std::string& name, DWORD timeoutMs = 10000);
DWORD Stop(const std::string& name, DWORD timeoutMs = 10000);
DWORD CurrentState(const std::string& name);  // SERVICE_RUNNING ..., 0 when unknown
DWORD StartType(const std::string& name);     // SERVICE_AUTO_START ..., 0xFFFFFFFF when unknown

// "start <name>" and "stop <name>" in the order they happened.
std::vector<std::string> Log();
void ClearLog();

// Used by the service program itself.
Behaviour ReadBehaviour(const std::string& name);
void Record(const std::string& event);

}  // namespace standin
