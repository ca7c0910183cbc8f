// A short run of the randomised stress: about 10^5 operations, from a seed that changes nothing
// between runs, so that a failure replays (scripts/stress runs long ones).
#include <gtest/gtest.h>

#include "port_stress.h"

TEST(PortStress, ShortRandomisedRunKeepsEveryInvariant)
{
    constexpr uint32_t kSeed = 20261208;
    const stress::Result result = stress::Run(100000, kSeed);
    for (const std::string& problem : result.problems)
        ADD_FAILURE() << problem << " (replay: scripts/stress 100000 " << kSeed << ")";
}
