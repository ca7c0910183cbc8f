// driver_stress [operations] [seed]: a long randomised stress run of the driver's port arbitration
// and interrupt sharing in the harness. Exit code 0 when every invariant held.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "port_stress.h"

int main(int argc, char** argv)
{
    const uint64_t operations = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const auto seed = static_cast<uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : std::time(nullptr));
    std::printf("stress: %llu operations, seed %u\n", static_cast<unsigned long long>(operations), seed);
    std::fflush(stdout);
    const stress::Result result = stress::Run(operations, seed);
    for (const std::string& problem : result.problems) std::printf("problem: %s\n", problem.c_str());
    std::printf("%s\n", result.summary.c_str());
    std::printf("%s: %llu operations in %.1f s, seed %u\n", result.problems.empty() ? "passed" : "FAILED",
                static_cast<unsigned long long>(result.operations), result.seconds, seed);
    if (!result.problems.empty())
        std::printf("replay: scripts/stress %llu %u\n", static_cast<unsigned long long>(operations), seed);
    return result.problems.empty() ? 0 : 1;
}
