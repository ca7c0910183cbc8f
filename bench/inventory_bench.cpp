// Times GetConfiguration on simulated installations of 8, 16, 32 and 64 cards with 16 ports each
// (12 serial, 4 parallel; every port active and listed in the device maps). The cost should grow
// linearly with the number of ports: about twice the time per doubling. Beside it, the reading of
// the same card and port keys the way it was done before: one enumeration of a key's values per
// value read, against one enumeration per key now.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "bench_clock.h"
#include "cardsim.h"
#include "data/inventory.h"
#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/scoped_key.h"

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

// The values of every card and port key read one by one, each by its own enumeration.
void ReadValueByValue()
{
    DWORD number = 0;
    char text[kTextChars];
    auto read = [&](const char* path, std::initializer_list<const char*> dwords, std::initializer_list<const char*> texts) {
        ScopedKey key(HKEY_LOCAL_MACHINE, path);
        for (const char* name : dwords) GetDwordValue(name, key.get(), &number);
        for (const char* name : texts) GetStringValue(name, key.get(), text);
    };
    for (const CardEntry& card : CardList) read(card.keyPath, {"Flags", "Error"}, {"DeviceDesc", "EnumPropPages"});
    for (const PortEntry& port : PortList)
        read(port.keyPath, {"Flags", "Error"}, {"DeviceDesc", "EnumPropPages", "DeviceName", "DriverName", "PortName"});
}

// The same keys, each read in one pass.
void ReadInOnePass()
{
    DWORD flags = 0, error = 0;
    char texts[5][kTextChars];
    auto read = [&](const char* path, size_t textCount) {
        ScopedKey key(HKEY_LOCAL_MACHINE, path);
        const char* names[] = {"DeviceDesc", "EnumPropPages", "DeviceName", "DriverName", "PortName"};
        WantedValue wanted[7] = {{"Flags", WantedValue::Dword, &flags, 0, false},
                                 {"Error", WantedValue::Dword, &error, 0, false}};
        for (size_t i = 0; i < textCount; ++i) wanted[2 + i] = {names[i], WantedValue::Text, texts[i], kTextChars, false};
        ReadValues(key.get(), wanted, 2 + textCount);
    };
    for (const CardEntry& card : CardList) read(card.keyPath, 2);
    for (const PortEntry& port : PortList) read(port.keyPath, 5);
}

template <class Work>
double Best(int rounds, Work work)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        double start = Seconds();
        work();
        best = std::min(best, Seconds() - start);
    }
    return best;
}

}  // namespace

int main()
{
    ToolInstance = GetModuleHandleA(nullptr);
    LoadRegistryPaths();

    std::printf("%6s %6s %12s %8s %18s %18s\n", "cards", "ports", "ms", "ratio", "value by value ms",
                "one pass ms");
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
        const double valueByValue = Best(5, ReadValueByValue), onePass = Best(5, ReadInOnePass);
        char ratio[16] = "-";
        if (previous > 0) std::snprintf(ratio, sizeof ratio, "%.2f", seconds / previous);
        std::printf("%6d %6d %12.2f %8s %18.2f %18.2f\n", cards, cards * 16, seconds * 1000, ratio,
                    valueByValue * 1000, onePass * 1000);
        previous = seconds;
    }
    cardsim::RemoveAll();
    return 0;
}
