// Moving the reserved-number maps between the enumerator key and memory.
#include "data/port_maps.h"

#include <windows.h>

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
