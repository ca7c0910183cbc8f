// Moving the reserved-number maps between the enumerator key and memory.
#include "data/port_maps.h"

#include <windows.h>

#include "data/key_grant.h"
#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"

namespace {

// A map whose value could not be read (not merely missing) holds nothing of the stored one; it
// is never written back over it.
bool comMapUnread = false, lptMapUnread = false;

bool ReadMap(HKEY key, const char* name, uint8_t* map, const char* warning)
{
    const LONG rc = QueryFixedValue(name, key, map, kPortMapBytes);
    if (rc != ERROR_SUCCESS) ShowWarning(warning);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_MORE_DATA;
}

}  // namespace

void ForgetPortMaps()
{
    comMapUnread = lptMapUnread = true;
}

int GetPortMaps()
{
    ForgetPortMaps();
    ScopedKey enumerator(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!enumerator) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in GetPortMaps");
    comMapUnread = !ReadMap(enumerator.get(), "COMPortMap", ComPortMap, "Can't find Key for ComPortMap");
    lptMapUnread = !ReadMap(enumerator.get(), "LPTPortMap", LptPortMap, "Can't find Key for LptPortMap");
    return kResultOk;
}

namespace {

bool WriteMap(HKEY key, const char* name, const uint8_t* map)
{
    return RegSetValueExA(key, name, 0, REG_BINARY, map, kPortMapBytes) == ERROR_SUCCESS;
}

}  // namespace

int SavePortMaps()
{
    if (comMapUnread || lptMapUnread) return kResultSaveFailed;
    KeyGrant grant(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!grant) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in SavePortMaps : no rights");
    ScopedKey enumerator(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!enumerator) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in SavePortMaps");
    const bool written = WriteMap(enumerator.get(), "COMPortMap", ComPortMap) &&
                         WriteMap(enumerator.get(), "LPTPortMap", LptPortMap);
    if (!grant.Restore()) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in SavePortMaps : no rights");
    return written ? kResultOk : kResultSaveFailed;
}
