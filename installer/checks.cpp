// What the installer does around the INF step: its checks before, the access to the enumerator's
// registry tree during, and the port maps, start-up check and service starts after it.
#include <cstring>

#include "installer.h"
#include "resource.h"

namespace {

const char kEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum";
const char kEnumeratorName[] = "QARIXBUS";
const char kEnumeratorPath[] = "SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS";
const char kMachineRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kOldServices[] = {"ktpciser", "ktpcipar"};
const char* const kDriverServices[] = {"ktcnt", "ktsnt", "ktpnt", "ktpptnt"};
constexpr DWORD kServiceStartLimitMs = 10000;

bool ServiceExists(SC_HANDLE manager, const char* name)
{
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (!service) return false;
    CloseServiceHandle(service);
    return true;
}

LONG WriteMap(HKEY key, const char* name, const PortMapOption& map)
{
    return map.write ? RegSetValueExA(key, name, 0, REG_BINARY, map.bits, kPortMapBytes) : ERROR_SUCCESS;
}

DWORD UnlessMissing(LONG rc)
{
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
}

// Starts one service and waits, looking every 100 ms, until it runs, its status cannot be read, or ten
// seconds have passed.
void StartAndWait(SC_HANDLE manager, const char* name)
{
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS | SERVICE_START);
    if (!service) return;
    StartServiceA(service, 0, nullptr);
    const DWORD started = GetTickCount();
    SERVICE_STATUS status;
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING &&
           GetTickCount() - started < kServiceStartLimitMs)
        Sleep(100);
    CloseServiceHandle(service);
}

// Yes goes on, No cancels; a question whose text is missing fails the initialisation.
int AskToGoOn(int stringId, UINT type)
{
    switch (Ask(stringId, type)) {
    case IDYES: return kDone;
    case -1: return kInitFailed;
    default: return kCancelled;
    }
}

}  // namespace

// A 32-bit installer on a 64-bit Windows would put a 32-bit driver where the system cannot load
// it and its values where the 64-bit programs do not look. IsWow64Process is looked up: NT 4.0
// and 2000 lack it (and run no 64-bit Windows).
int CheckNativeSystem()
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (!isWow64Process || !isWow64Process(GetCurrentProcess(), &wow64) || !wow64) return kDone;
    Setup.on64BitSystem = true;
    return kWrongVersion;
}

int CheckOldInstallation()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    bool found = false;
    for (const char* name : kOldServices)
        if (manager && !found) found = ServiceExists(manager, name);
    if (manager) CloseServiceHandle(manager);
    if (!found || Setup.options.force) return kDone;
    if (Setup.options.quiet) return kCancelled;
    return AskToGoOn(IDS_OLD_INSTALLATION, MB_YESNO | MB_ICONERROR);
}

int CheckAdministrator()
{
    char user[kPathChars + 1] = {};
    DWORD size = sizeof user;
    if (GetUserNameA(user, &size) && lstrcmpiA(user, Setup.options.adminName.c_str()) == 0) return kDone;
    if (Setup.options.quiet) return kCancelled;
    return AskToGoOn(IDS_NOT_ADMINISTRATOR, MB_YESNO | MB_ICONQUESTION);
}

int OpenEnumAccess()
{
    KeyAccessNode* tree = nullptr;
    DWORD rc = GrantKeyAccess(HKEY_LOCAL_MACHINE, kEnumPath, &tree, 0);
    HKEY enumKey = nullptr;
    if (rc == ERROR_SUCCESS) rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumPath, 0, KEY_READ, &enumKey);
    if (rc == ERROR_SUCCESS) {
        rc = GrantKeyAccess(enumKey, kEnumeratorName, &tree, 1);
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;  // before a first installation
    }
    if (enumKey) RegCloseKey(enumKey);
    if (rc != ERROR_SUCCESS) {
        Setup.errorCode = rc;
        RestoreKeyAccess(HKEY_LOCAL_MACHINE, kEnumPath, tree, 0);
        FreeKeyAccessTree(tree);
        return kSystemError;
    }
    Setup.enumAccess = tree;
    return kDone;
}

namespace {

// The enumeration key itself, and the enumerator's subtree with every key created meanwhile (a
// first installation creates QARIXBUS): the other devices' keys below Enum are not touched. True
// when every saved DACL went back.
bool RestoreEnumAccess(KeyAccessNode* tree)
{
    HKEY enumKey = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumPath, 0, READ_CONTROL | WRITE_DAC, &enumKey);
    if (rc == ERROR_SUCCESS) {
        rc = static_cast<LONG>(SetKeyDacl(enumKey, tree->savedDacl));
        RegCloseKey(enumKey);
    }
    HKEY enumerator = nullptr;
    LONG below = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumeratorPath, 0,
                               READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS, &enumerator);
    if (below == ERROR_SUCCESS) {
        KeyAccessNode* node = FindAccessNode(tree, kEnumeratorName);
        PACL inherited = node && node->savedDacl ? node->savedDacl : tree->savedDacl;
        below = static_cast<LONG>(RestoreKeyAccessTree(enumerator, node, inherited, 1));
        if (DWORD own = SetKeyDacl(enumerator, node ? node->savedDacl : inherited)) below = static_cast<LONG>(own);
        RegCloseKey(enumerator);
    } else if (below == ERROR_FILE_NOT_FOUND) {
        below = ERROR_SUCCESS;  // removed by an uninstallation
    }
    return rc == ERROR_SUCCESS && below == ERROR_SUCCESS;
}

}  // namespace

void CloseEnumAccess()
{
    KeyAccessNode* tree = Setup.enumAccess;
    if (!tree) return;
    // A pass that failed is made once more, as RestoreKeyAccess does: it only writes the saved
    // DACLs again.
    if (!RestoreEnumAccess(tree)) RestoreEnumAccess(tree);
    FreeKeyAccessTree(tree);
    Setup.enumAccess = nullptr;
}

DWORD RemoveStartupCheck()
{
    HKEY run;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineRunKey, 0, KEY_SET_VALUE, &run);
    if (rc != ERROR_SUCCESS) return UnlessMissing(rc);
    rc = RegDeleteValueA(run, "ktcfgchk");
    RegCloseKey(run);
    return UnlessMissing(rc);
}

DWORD WritePortMaps()
{
    KeyAccessNode* tree = nullptr;
    DWORD rc = ERROR_SUCCESS;
    if (Setup.options.comExclude.write || Setup.options.lptExclude.write)
        rc = GrantKeyAccess(HKEY_LOCAL_MACHINE, kEnumeratorPath, &tree, 0);
    if (tree) {
        HKEY key;
        rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumeratorPath, 0, KEY_SET_VALUE, &key);
        if (rc == ERROR_SUCCESS) {
            rc = WriteMap(key, "COMPortMap", Setup.options.comExclude);
            if (rc == ERROR_SUCCESS) rc = WriteMap(key, "LPTPortMap", Setup.options.lptExclude);
            RegCloseKey(key);
        }
        const DWORD restored = RestoreKeyAccess(HKEY_LOCAL_MACHINE, kEnumeratorPath, tree, 0);
        if (rc == ERROR_SUCCESS) rc = restored;
        FreeKeyAccessTree(tree);
    }
    CloseEnumAccess();
    // After an uninstallation the enumerator's key is gone: there is nothing to write.
    return UnlessMissing(static_cast<LONG>(rc));
}

void StartInstalledServices()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager) return;
    for (const char* name : kDriverServices) StartAndWait(manager, name);
    CloseServiceHandle(manager);
}
