// Every failure, once: runs a flow with the registry, security, service, profile, file, SetupAPI
// and memory calls of some modules counted, then once more per call, failing only that call with
// an error the function can really return, and checks after each run that the flow stayed sound.
//
// Only calls made through the hooked modules' import tables are seen, and only those of the
// thread that runs the flow and of the threads the modules start meanwhile (CreateThread), so the
// test's own helper threads are left alone.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace faultsweep {

// What the invariants compare: named entries (registry values, key DACLs, profile lines,
// service states). Names starting with "dacl:" must never change while their key exists; those
// starting with "result:" are what a successful run achieves, compared only after one.
using State = std::map<std::string, std::string>;

struct Flow {
    std::function<void()> prepare;  // makes the start state; runs before every run, uncounted
    std::function<bool()> run;      // the flow; true when it reported success
    std::function<State()> state;   // taken after prepare and after run, uncounted
    // The calls are counted only from CountFrom on: for flows whose first part is only the way
    // to the calls that matter (a window opened and edited before OK).
    bool countsFromMark = false;
    // Calls failed per call site in the test run (see Sweep).
    int callsPerSite = 2;
};

// Starts counting the calls of thread (and of the threads it starts) in a countsFromMark flow;
// StopCounting ends it before the flow's own checks, which allocate.
void CountFrom(DWORD thread);
void StopCounting();

struct Report {
    size_t points = 0;  // calls counted in the undisturbed run
    size_t sites = 0;   // distinct call sites among them
    size_t runs = 0;    // runs with a failure injected
    double seconds = 0;
    std::vector<std::string> breaks;  // one line per broken invariant, naming the call point
};

// Sweeps flow over the calls of modules. Which calls are failed is chosen by the environment:
// KT_SWEEP=every fails every call, and so does a flow of at most 40 calls; otherwise each call
// site (function and caller; for the C runtime's allocators, which operator new calls, the code
// that wanted the memory) has its first two calls (Flow::callsPerSite) failed. KT_SWEEP_SAMPLE=n
// keeps every n-th of those (the first and last always); KT_SWEEP_POINT=i fails call i alone.
// The flow runs undisturbed twice first (counted the second time) and must report success.
Report Sweep(const std::vector<HMODULE>& modules, const Flow& flow);

// Registry state below root\path: every key's DACL ("dacl:<path>") and every value
// ("<path>:<name>" -> type and data). A missing key gives no entries.
State RegistryState(HKEY root, const std::string& path);
// Writes back the values of such a state (keys that are missing are created).
void WriteValues(HKEY root, const State& state);

}  // namespace faultsweep
