// ktsvc <name>: a stand-in driver service. Reports RUNNING and STOPPED like a driver service,
// records its starts and stops, and behaves as its Behaviour key says.
#include <windows.h>

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

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    serviceName = argv[1];
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{&serviceName[0], ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
