// One line of the installer's configuration file, and the port lists it may hold.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    InstallOptions options;
    ApplyConfigLine(line, options);
    if (options.adminName.size() > kAdminNameChars) __builtin_trap();
    uint8_t map[kPortMapBytes] = {};
    ParsePortList(line.c_str(), map);
    return 0;
}
