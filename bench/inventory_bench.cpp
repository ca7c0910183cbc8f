// Times GetConfiguration on simulated installations of 8, 16, 32 and 64 cards with 16 ports each
// (12 serial, 4 parallel; every port active and listed in the device maps). The cost should grow
// linearly with the number of ports: about twice the time per doubling.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "bench_clock.h"
#include "cardsim.h"
#include "data/inventory.h"
#include "data/registry_paths.h"

namespace {

// The fastest of several rounds: the machine only ever adds time to the work itself.
double BestReadSeconds(int rounds)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        double start = Seconds();
        GetConfiguration();
        best = std::min(best, Seconds() - start);
    }
    return best;
}

}  // namespace

int main()
{
    ToolInstance = GetModuleHandleA(nullptr);
    LoadRegistryPaths();

    std::printf("%6s %6s %12s %8s\n", "cards", "ports", "ms", "ratio");
    double previous = 0;
    for (int cards : {8, 16, 32, 64}) {
        cardsim::Layout layout;
        layout.cards = cards;
        layout.serialPerCard = 12;
        layout.parallelPerCard = 4;
        if (cardsim::Write(cardsim::BuildInstallation(layout)) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot write the simulated installation\n");
            return 1;
        }
        double seconds = BestReadSeconds(9);
        if (PortList.size() != static_cast<size_t>(cards) * 16) {
            std::fprintf(stderr, "read %zu ports, expected %d\n", PortList.size(), cards * 16);
            return 1;
        }
        if (previous > 0)
            std::printf("%6d %6d %12.2f %8.2f\n", cards, cards * 16, seconds * 1000, seconds / previous);
        else
            std::printf("%6d %6d %12.2f %8s\n", cards, cards * 16, seconds * 1000, "-");
        previous = seconds;
    }
    cardsim::RemoveAll();
    return 0;
}
