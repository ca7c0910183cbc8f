// Times GetDriverInfo and full restarts of the four driver services (stand-ins) with the shipped
// status polls, and how many pauses between polls they took.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "bench_clock.h"
#include "cardsim.h"
#include "data/driver_info.h"
#include "data/registry_paths.h"
#include "data/service_control.h"
#include "standin.h"

namespace {

const char* const kServices[] = {cardsim::kEnumService, cardsim::kSerService, cardsim::kParService,
                                 cardsim::kParMiniService};

void (*shippedPause)();
int pauses;

void CountedPause()
{
    ++pauses;
    shippedPause();
}

}  // namespace

int main()
{
    ToolInstance = GetModuleHandleA(nullptr);
    LoadRegistryPaths();
    if (cardsim::Write(cardsim::BuildInstallation({})) != ERROR_SUCCESS) return 1;
    for (const char* name : kServices)
        if (standin::Register(name, STANDIN_SERVICE_PATH) != 0 || standin::Start(name) != 0) {
            std::fprintf(stderr, "cannot run the stand-in service %s\n", name);
            return 1;
        }

    double best = 1e9;
    for (int i = 0; i < 20; ++i) {
        double start = Seconds();
        GetDriverInfo();
        best = std::min(best, Seconds() - start);
    }
    std::printf("GetDriverInfo: %.2f ms (fastest of 20)\n", best * 1000);

    shippedPause = ServicePollPause;
    ServicePollPause = CountedPause;
    for (int round = 1; round <= 3; ++round) {
        pauses = 0;
        const double start = Seconds();
        const int result = ControlServices(kFullRestartFlag);
        const double took = Seconds() - start;
        std::printf("full restart of 4 services: %.3f s (result %d), %d pauses of %lu ms = %.3f s\n", took,
                    result, pauses, kServicePollMs, pauses * kServicePollMs / 1000.0);
    }

    for (const char* name : kServices) standin::Remove(name);
    cardsim::RemoveAll();
    return 0;
}
