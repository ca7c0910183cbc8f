// ktsvc <name>: a stand-in driver service. Reports RUNNING and STOPPED like a driver service,
// records its starts and stops, and behaves as its Behaviour key says.
// ktsvc --register <name>...: registers this program under each name and starts it.
// ktsvc --remove <name>...: stops and deletes those services.
#include <windows.h>

#include <cstdio>
#include <string>

#include "standin.h"

namespace {

std::string serviceName;
standin::Behaviour behaviour;
SERVICE_STATUS_HANDLE statusHandle;
HANDLE stopRequested;

void Report(DWORD state, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && !behaviour.refuseStop ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 60000 : 0;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (behaviour.refuseStop) return ERROR_CALL_NOT_IMPLEMENTED;
        Report(SERVICE_STOP_PENDING);
        SetEvent(stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, char**)
{
    behaviour = standin::ReadBehaviour(serviceName);
    statusHandle = RegisterServiceCtrlHandlerExA(serviceName.c_str(), Control, nullptr);
    if (!statusHandle) return;
    standin::Record("start " + serviceName);
    if (behaviour.failStart) {
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    Report(SERVICE_START_PENDING);
    Sleep(behaviour.startDelayMs);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(stopRequested, INFINITE);
    Sleep(behaviour.stopDelayMs);
    standin::Record("stop " + serviceName);
    Report(SERVICE_STOPPED);
}

}  // namespace

int Manage(int argc, char** argv)
{
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    const bool registering = std::string(argv[1]) == "--register";
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        DWORD rc = registering ? standin::Register(argv[i], program) : standin::Remove(argv[i]);
        if (rc == 0 && registering) rc = standin::Start(argv[i]);
        if (rc != 0) {
            std::fprintf(stderr, "ktsvc: %s %s failed with error %lu\n", argv[1], argv[i], rc);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    if (std::string(argv[1]) == "--register" || std::string(argv[1]) == "--remove") return Manage(argc, argv);
    serviceName = argv[1];
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{&serviceName[0], ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
