// Times GetDriverInfo and a full restart of the four driver services (stand-ins) with the
// shipped one-second status polls.
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

    double start = Seconds();
    int result = ControlServices(kFullRestartFlag);
    std::printf("full restart of 4 services: %.2f s (result %d)\n", Seconds() - start, result);

    for (const char* name : kServices) standin::Remove(name);
    cardsim::RemoveAll();
    return 0;
}
