// A randomised stress of the driver's port arbitration and interrupt sharing in the harness:
// client threads against two ports at once, an interrupt source and a canceller, with the
// invariants checked while it runs and at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stress {

struct Result {
    uint64_t operations = 0;
    double seconds = 0;
    std::vector<std::string> problems;  // broken invariants and verifier reports; empty when sound
    std::string summary;                // how often the interesting things happened
};

// Runs about `operations` client operations chosen from `seed` by `clients` threads.
Result Run(uint64_t operations, uint32_t seed, int clients = 4);

}  // namespace stress
