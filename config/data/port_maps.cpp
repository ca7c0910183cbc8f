// Moving the reserved-number maps between the enumerator key and memory.
#include "data/port_maps.h"

#include <windows.h>

#include "data/key_grant.h"
#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"

int GetPortMaps()
{
    ScopedKey enumerator(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!enumerator) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in GetPortMaps");
    if (!GetFixedValue("COMPortMap", enumerator.get(), ComPortMap, kPortMapBytes))
        ShowWarning("Can't find Key for ComPortMap");
    if (!GetFixedValue("LPTPortMap", enumerator.get(), LptPortMap, kPortMapBytes))
        ShowWarning("Can't find Key for LptPortMap");
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
    KeyGrant grant(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!grant) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in SavePortMaps : no rights");
    ScopedKey enumerator(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!enumerator) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in SavePortMaps");
    const bool written = WriteMap(enumerator.get(), "COMPortMap", ComPortMap) &&
                         WriteMap(enumerator.get(), "LPTPortMap", LptPortMap);
    if (!grant.Restore()) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in SavePortMaps : no rights");
    return written ? kResultOk : kResultSaveFailed;
}
