#include "standin.h"

#include <cstdio>

namespace standin {
namespace {

class Handle {
public:
    explicit Handle(SC_HANDLE handle) : handle_(handle) {}
    ~Handle() { if (handle_) CloseServiceHandle(handle_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

Handle Manager()
{
    return Handle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

DWORD LastErrorOr(bool ok)
{
    return ok ? ERROR_SUCCESS : GetLastError();
}

DWORD WaitFor(SC_HANDLE service, DWORD state, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 20) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status)) return GetLastError();
        if (status.dwCurrentState == state) return ERROR_SUCCESS;
        if (waited >= timeoutMs) return ERROR_TIMEOUT;
        Sleep(20);
    }
}

// Ends the process of a service that will not stop, so that it can be deleted.
void Kill(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) ||
        status.dwProcessId == 0)
        return;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId)) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

DWORD ReadDword(HKEY key, const char* name)
{
    DWORD value = 0, size = sizeof value;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
                   ERROR_SUCCESS
               ? value
               : 0;
}

}  // namespace

DWORD Register(const std::string& name, const std::string& program, DWORD startType)
{
    Remove(name);
    Handle manager = Manager();
    if (!manager) return GetLastError();
    const std::string command = "\"" + program + "\" " + name;
    Handle service(CreateServiceA(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                  command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return LastErrorOr(static_cast<bool>(service));
}

DWORD Remove(const std::string& name, DWORD timeoutMs)
{
    Handle manager = Manager();
    if (!manager) return GetLastError();
    Handle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : GetLastError();
    SERVICE_STATUS status;
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status) ||
        WaitFor(service.get(), SERVICE_STOPPED, timeoutMs) != ERROR_SUCCESS)
        Kill(service.get());
    DWORD rc = LastErrorOr(DeleteService(service.get()));
    HKEY behaviour;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kBehaviourPath, &behaviour) == ERROR_SUCCESS) {
        RegDeleteKeyA(behaviour, name.c_str());
        RegCloseKey(behaviour);
    }
    return rc;
}

DWORD SetBehaviour(const std::string& name, const Behaviour& b)
{
    HKEY key;
    const std::string path = std::string(kBehaviourPath) + "\\" + name;
    DWORD rc = RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key);
    if (rc != ERROR_SUCCESS) return rc;
    const std::pair<const char*, DWORD> values[] = {{"StartDelayMs", b.startDelayMs},
                                                    {"StopDelayMs", b.stopDelayMs},
                                                    {"RefuseStop", b.refuseStop},
                                                    {"FailStart", b.failStart}};
    for (const auto& [valueName, value] : values)
        if (rc == ERROR_SUCCESS)
            rc = RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value);
    RegCloseKey(key);
    return rc;
}

Behaviour ReadBehaviour(const std::string& name)
{
    Behaviour b;
    HKEY key;
    const std::string path = std::string(kBehaviourPath) + "\\" + name;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return b;
    b.startDelayMs = ReadDword(key, "StartDelayMs");
    b.stopDelayMs = ReadDword(key, "StopDelayMs");
    b.refuseStop = ReadDword(key, "RefuseStop") != 0;
    b.failStart = ReadDword(key, "FailStart") != 0;
    RegCloseKey(key);
    return b;
}

DWORD Start(const std::string& name, DWORD timeoutMs)
{
    Handle manager = Manager();
    Handle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS) : nullptr);
    if (!service) return GetLastError();
    // A stand-in that has just reported STOPPED may still be ending; its start is refused as
    // already running until it has.
    for (DWORD waited = 0; !StartServiceA(service.get(), 0, nullptr); waited += 20) {
        const DWORD rc = GetLastError();
        if (rc != ERROR_SERVICE_ALREADY_RUNNING || waited >= timeoutMs) return rc;
        SERVICE_STATUS status;
        if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) return rc;
        Sleep(20);
    }
    return WaitFor(service.get(), SERVICE_RUNNING, timeoutMs);
}

DWORD Stop(const std::string& name, DWORD timeoutMs)
{
    Handle manager = Manager();
    Handle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS) : nullptr);
    if (!service) return GetLastError();
    SERVICE_STATUS status;
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return GetLastError();
    return WaitFor(service.get(), SERVICE_STOPPED, timeoutMs);
}

DWORD CurrentState(const std::string& name)
{
    Handle manager = Manager();
    Handle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status;
    return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

DWORD StartType(const std::string& name)
{
    Handle manager = Manager();
    Handle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    if (!service) return 0xFFFFFFFF;
    union {
        QUERY_SERVICE_CONFIGA config;
        char bytes[8192];
    } buffer;
    DWORD needed = 0;
    return QueryServiceConfigA(service.get(), &buffer.config, sizeof buffer, &needed)
               ? buffer.config.dwStartType
               : 0xFFFFFFFF;
}

std::vector<std::string> Log()
{
    std::vector<std::string> events;
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kLogPath, &key) != ERROR_SUCCESS) return events;
    for (DWORD n = 1;; ++n) {
        char name[16], text[256] = {};
        DWORD size = sizeof text - 1;
        std::snprintf(name, sizeof name, "%04lu", n);
        if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS)
            break;
        events.push_back(text);
    }
    RegCloseKey(key);
    return events;
}

void ClearLog()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kLogPath);
}

void Record(const std::string& event)
{
    // Services of one test run one at a time, but a mutex keeps the numbering sound regardless.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "KtStandinLog");
    WaitForSingleObject(mutex, 5000);
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kLogPath, &key) == ERROR_SUCCESS) {
        DWORD count = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr);
        char name[16];
        std::snprintf(name, sizeof name, "%04lu", count + 1);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(event.c_str()),
                       static_cast<DWORD>(event.size() + 1));
        RegCloseKey(key);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

}  // namespace standin
