// The enumerator's card and port key names, the card id read from a card key name, and the port
// names of the device maps; and the numbers typed into the reserved-ports dialog.
#include <cstddef>
#include <cstdint>
#include <string>

#include "data/device_names.h"
#include "data/port_maps.h"
#include "ui/port_ranges.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* name = text.c_str();
    IsCardKeyName(name);
    IsPortKeyName(name);
    CardId id = {};
    ParseCardId(name, id);
    const char* last = LastPathComponent(name);
    if (last < name || last > name + text.size()) __builtin_trap();
    uint8_t map[kPortMapBytes] = {};
    const PortRun range = ParseTypedRange(name);
    ApplyRange(map, range, true);
    PortRun runs[kMaxPortRuns];
    const int count = ReservedRuns(map, runs);
    for (int i = 0; i < count; ++i) {
        char line[32];
        LineText("COM", runs[i], line, sizeof line);
        ReleaseLine(map, LineValue(runs[i]));
    }
    for (uint8_t byte : map)
        if (byte) __builtin_trap();  // every line released gives the numbers back
    return 0;
}
