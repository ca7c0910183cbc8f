// The installer's command line. "-c" would read a file of the fuzzer's choosing: such inputs are
// left to the configuration-line target.
#include <cstddef>
#include <cstdint>
#include <string>

#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    for (char c : line)
        if (c == 'c' || c == 'C' || c == '\0') return 0;
    InstallOptions options;
    bool uninstall = false;
    ParseCommandLine(line, options, uninstall);
    return 0;
}
