#include "fault_sweep.h"

#include <aclapi.h>
#include <setupapi.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <type_traits>

#include "import_hook.h"
#include "key_security.h"

namespace faultsweep {
namespace {

// How a function says it failed.
enum class Fails {
    Status,   // returns the error code itself (registry calls)
    Zero,     // returns FALSE / NULL, the error through GetLastError
    Invalid,  // returns INVALID_HANDLE_VALUE (or INVALID_FILE_SIZE ...), the error through GetLastError
    CrtNull,  // returns NULL with errno set (the C runtime)
    Never,    // not failed, only watched (handle closes, thread starts)
};

// What the call does to the handles the sweep follows.
enum class Handle { None, OpensResult, OpensArg, Closes, StartsThread };

struct Rule {
    const char* dll;
    const char* function;
    Fails fails;
    DWORD error;  // for CrtNull an errno value
    Handle handle = Handle::None;
    int arg = -1;  // the out-parameter or closed handle
};

struct Slot {
    void* original = nullptr;
    const Rule* rule = nullptr;
};

enum class Mode { EverySite, EveryCall };

struct CallPoint {
    const Rule* rule;
    int occurrence;  // of this function in the run, from 1
    void* caller;
    void* site;  // the caller, or for the C runtime's allocators the code that wanted the memory
};

// The state of the current run, read by every hook.
struct RunState {
    bool counting = false;
    size_t failAt = SIZE_MAX;
    bool injected = false;
    std::set<DWORD> threads;
    std::vector<CallPoint> calls;
    std::map<uintptr_t, std::string> open;  // handle -> who opened it
    CRITICAL_SECTION lock;
    DWORD inside = TlsAlloc();  // set while a thread is in the sweep's own code
    RunState() { InitializeCriticalSection(&lock); }
};
RunState run;

// The sweep's own bookkeeping allocates: its calls must pass through the hooks unseen.
class Inside {
public:
    Inside() : outermost_(!TlsGetValue(run.inside)) { TlsSetValue(run.inside, reinterpret_cast<void*>(1)); }
    ~Inside()
    {
        if (outermost_) TlsSetValue(run.inside, nullptr);
    }
    bool Outermost() const { return outermost_; }

private:
    bool outermost_;
};

template <class T>
uintptr_t Word(T value)
{
    if constexpr (std::is_pointer_v<T>) return reinterpret_cast<uintptr_t>(value);
    else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) return static_cast<uintptr_t>(value);
    else return 0;
}

template <class R>
R FromWord(uintptr_t word)
{
    if constexpr (std::is_pointer_v<R>) return reinterpret_cast<R>(word);
    else return static_cast<R>(word);
}

std::string Where(void* address)
{
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(address), &module))
        GetModuleFileNameA(module, name, sizeof name);
    const char* base = std::strrchr(name, '\\');
    char text[MAX_PATH + 32];
    std::snprintf(text, sizeof text, "%s+0x%llx", base ? base + 1 : name,
                  static_cast<unsigned long long>(static_cast<char*>(address) - reinterpret_cast<char*>(module)));
    return text;
}

std::string Describe(const CallPoint& point)
{
    return std::string(point.rule->function) + " #" + std::to_string(point.occurrence) + " at " + Where(point.caller);
}

bool Predefined(uintptr_t handle)
{
    // Registry roots and pseudo handles are never opened or closed.
    return handle == 0 || (static_cast<intptr_t>(handle) < 0 && static_cast<intptr_t>(handle) >= -0x80000000LL);
}

// The allocators are called from operator new and a few container helpers, whoever wants the
// memory: their site is the caller's caller, as far as the stack can be walked.
void* SiteOf(const Rule& rule, void* caller)
{
    if (rule.fails != Fails::CrtNull) return caller;
    void* frames[12] = {};
    const USHORT found = RtlCaptureStackBackTrace(0, 12, frames, nullptr);
    for (USHORT i = 0; i + 1 < found; ++i)
        if (frames[i] == caller) return frames[i + 1];
    return caller;
}

// Called on entry: true when this call is the one to fail. Counts it when it is the flow's.
bool Enter(const Slot& slot, void* caller)
{
    if (slot.rule->fails == Fails::Never) return false;
    Inside inside;
    if (!inside.Outermost()) return false;
    EnterCriticalSection(&run.lock);
    bool fail = false;
    if (run.counting && run.threads.count(GetCurrentThreadId())) {
        int occurrence = 1;
        for (const CallPoint& call : run.calls) occurrence += call.rule == slot.rule;
        run.calls.push_back({slot.rule, occurrence, caller, SiteOf(*slot.rule, caller)});
        fail = run.calls.size() - 1 == run.failAt;
        if (fail) run.injected = true;
    }
    LeaveCriticalSection(&run.lock);
    return fail;
}

// Called after a call that went through: follows handles and threads.
void Leave(const Slot& slot, uintptr_t result, const uintptr_t* args, void* caller)
{
    const Rule& rule = *slot.rule;
    Inside inside;
    if (!inside.Outermost()) return;
    EnterCriticalSection(&run.lock);
    if (run.counting && run.threads.count(GetCurrentThreadId())) {
        uintptr_t handle = 0;
        bool succeeded = false;
        switch (rule.fails) {
        case Fails::Status: succeeded = result == ERROR_SUCCESS; break;
        case Fails::Zero: succeeded = result != 0; break;
        case Fails::Invalid: succeeded = result != Word(INVALID_HANDLE_VALUE); break;
        default: succeeded = true; break;
        }
        if (rule.handle == Handle::OpensResult && succeeded) handle = result;
        if (rule.handle == Handle::OpensArg && succeeded && args[rule.arg])
            handle = *reinterpret_cast<uintptr_t*>(args[rule.arg]);
        if (handle && !Predefined(handle)) run.open[handle] = std::string(rule.function) + " at " + Where(caller);
        if (rule.handle == Handle::Closes) run.open.erase(args[rule.arg]);
    }
    LeaveCriticalSection(&run.lock);
}

template <class R>
R Failure(const Rule& rule)
{
    switch (rule.fails) {
    case Fails::Status: return FromWord<R>(rule.error);
    case Fails::Invalid: SetLastError(rule.error); return FromWord<R>(static_cast<uintptr_t>(-1));
    case Fails::CrtNull: errno = static_cast<int>(rule.error); return FromWord<R>(0);
    default: SetLastError(rule.error); return FromWord<R>(0);
    }
}

// The sweep's bookkeeping must not change what the caller reads from GetLastError and errno.
class KeepErrors {
public:
    KeepErrors() : error_(GetLastError()), errno_(errno) {}
    ~KeepErrors()
    {
        SetLastError(error_);
        errno = errno_;
    }

private:
    DWORD error_;
    int errno_;
};

template <class R, class Call>
R Through(const Slot& slot, const uintptr_t* args, void* caller, Call call)
{
    bool fail;
    {
        KeepErrors keep;
        fail = Enter(slot, caller);
    }
    if (fail) return Failure<R>(*slot.rule);
    if constexpr (std::is_void_v<R>) {
        call();
        KeepErrors keep;
        Leave(slot, 0, args, caller);
    } else {
        R result = call();
        KeepErrors keep;
        Leave(slot, Word(result), args, caller);
        return result;
    }
}

// One hook per function; Id keeps the statics of same-typed functions apart.
template <int Id, class F>
struct ApiHook;
template <int Id, class R, class... A>
struct ApiHook<Id, R WINAPI(A...)> {
    static inline Slot slot;
    static R WINAPI Call(A... a)
    {
        void* caller = __builtin_return_address(0);
        const uintptr_t args[] = {Word(a)..., 0};
        return Through<R>(slot, args, caller, [&] { return reinterpret_cast<R(WINAPI*)(A...)>(slot.original)(a...); });
    }
};

// The threads a module starts run the flow too. Each starts suspended until the sweep knows its id,
// so none of its calls goes uncounted.
Slot threadSlot;
HANDLE WINAPI StartThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                          DWORD flags, LPDWORD id)
{
    DWORD ownId = 0;
    if (!id) id = &ownId;
    HANDLE thread = reinterpret_cast<decltype(&CreateThread)>(threadSlot.original)(security, stack, start, parameter,
                                                                                flags | CREATE_SUSPENDED, id);
    if (!thread) return thread;
    {
        KeepErrors keep;
        Inside inside;
        EnterCriticalSection(&run.lock);
        if (run.counting && run.threads.count(GetCurrentThreadId())) run.threads.insert(*id);
        LeaveCriticalSection(&run.lock);
    }
    if (!(flags & CREATE_SUSPENDED)) ResumeThread(thread);
    return thread;
}

template <int Id, class F>
struct CrtHook;
template <int Id, class R, class... A>
struct CrtHook<Id, R(A...)> {
    static inline Slot slot;
    static R Call(A... a)
    {
        void* caller = __builtin_return_address(0);
        const uintptr_t args[] = {Word(a)..., 0};
        return Through<R>(slot, args, caller, [&] { return reinterpret_cast<R (*)(A...)>(slot.original)(a...); });
    }
};

struct Entry {
    Rule rule;
    Slot* slot;
    void* replacement;
};

#define KT_API(dll, name, ...) \
    {{dll, #name, __VA_ARGS__}, &ApiHook<__COUNTER__, decltype(name)>::slot, reinterpret_cast<void*>(&ApiHook<__COUNTER__ - 1, decltype(name)>::Call)}
// The C runtime's allocators carry attributes a template argument cannot keep; the hook needs only
// the signature.
#pragma GCC diagnostic ignored "-Wignored-attributes"
#define KT_CRT(name, ...) \
    {{"msvcrt.dll", #name, __VA_ARGS__}, &CrtHook<__COUNTER__, decltype(name)>::slot, reinterpret_cast<void*>(&CrtHook<__COUNTER__ - 1, decltype(name)>::Call)}

constexpr const char* kAdvapi = "advapi32.dll";
constexpr const char* kKernel = "kernel32.dll";
constexpr const char* kSetup = "setupapi.dll";

// The calls that change or read the system, each with the error it plausibly fails with. Pure
// computations on caller memory (ACL and descriptor building, SID comparison) cannot fail on
// good arguments and are left out; so are reads whose failure the caller cannot tell from an
// absent entry by the function's contract (GetProfileString).
Entry entries[] = {
    KT_API(kAdvapi, RegOpenKeyA, Fails::Status, ERROR_ACCESS_DENIED, Handle::OpensArg, 2),
    KT_API(kAdvapi, RegOpenKeyExA, Fails::Status, ERROR_ACCESS_DENIED, Handle::OpensArg, 4),
    KT_API(kAdvapi, RegOpenKeyExW, Fails::Status, ERROR_ACCESS_DENIED, Handle::OpensArg, 4),
    KT_API(kAdvapi, RegCreateKeyExA, Fails::Status, ERROR_ACCESS_DENIED, Handle::OpensArg, 7),
    KT_API(kAdvapi, RegCreateKeyA, Fails::Status, ERROR_ACCESS_DENIED, Handle::OpensArg, 2),
    KT_API(kAdvapi, RegCloseKey, Fails::Never, 0, Handle::Closes, 0),
    KT_API(kAdvapi, RegQueryValueExA, Fails::Status, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, RegQueryValueExW, Fails::Status, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, RegEnumKeyExA, Fails::Status, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, RegEnumKeyA, Fails::Status, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, RegEnumValueA, Fails::Status, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, RegSetValueExA, Fails::Status, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, RegSetValueExW, Fails::Status, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, RegDeleteKeyA, Fails::Status, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, RegDeleteValueA, Fails::Status, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, RegGetKeySecurity, Fails::Status, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, RegSetKeySecurity, Fails::Status, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, SetEntriesInAclA, Fails::Status, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, OpenProcessToken, Fails::Zero, ERROR_ACCESS_DENIED, Handle::OpensArg, 2),
    KT_API(kAdvapi, GetTokenInformation, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, LookupPrivilegeValueA, Fails::Zero, ERROR_NO_SUCH_PRIVILEGE),
    KT_API(kAdvapi, AdjustTokenPrivileges, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, GetUserNameA, Fails::Zero, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kAdvapi, OpenSCManagerA, Fails::Zero, ERROR_ACCESS_DENIED, Handle::OpensResult),
    KT_API(kAdvapi, OpenServiceA, Fails::Zero, ERROR_ACCESS_DENIED, Handle::OpensResult),
    KT_API(kAdvapi, CreateServiceA, Fails::Zero, ERROR_ACCESS_DENIED, Handle::OpensResult),
    KT_API(kAdvapi, CloseServiceHandle, Fails::Never, 0, Handle::Closes, 0),
    KT_API(kAdvapi, StartServiceA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, ControlService, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, QueryServiceStatus, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, ChangeServiceConfigA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kAdvapi, DeleteService, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kKernel, WriteProfileStringW, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kKernel, WriteProfileStringA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kKernel, CreateFileA, Fails::Invalid, ERROR_ACCESS_DENIED, Handle::OpensResult),
    KT_API(kKernel, CloseHandle, Fails::Never, 0, Handle::Closes, 0),
    KT_API(kKernel, ReadFile, Fails::Zero, ERROR_READ_FAULT),
    KT_API(kKernel, WriteFile, Fails::Zero, ERROR_DISK_FULL),
    KT_API(kKernel, GetFileSize, Fails::Invalid, ERROR_ACCESS_DENIED),
    KT_API(kKernel, GetFileAttributesA, Fails::Invalid, ERROR_ACCESS_DENIED),
    KT_API(kKernel, CreateDirectoryA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kKernel, DeleteFileA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kKernel, CopyFileA, Fails::Zero, ERROR_DISK_FULL),
    KT_API(kKernel, LocalAlloc, Fails::Zero, ERROR_NOT_ENOUGH_MEMORY),
    {{kKernel, "CreateThread", Fails::Never, 0, Handle::StartsThread, 5}, &threadSlot, reinterpret_cast<void*>(&StartThread)},
    KT_API(kSetup, SetupOpenInfFileA, Fails::Invalid, ERROR_FILE_NOT_FOUND, Handle::OpensResult),
    KT_API(kSetup, SetupCloseInfFile, Fails::Never, 0, Handle::Closes, 0),
    KT_API(kSetup, SetupInstallFromInfSectionA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kSetup, SetupInstallServicesFromInfSectionA, Fails::Zero, ERROR_ACCESS_DENIED),
    KT_API(kSetup, SetupSetDirectoryIdA, Fails::Zero, ERROR_NOT_ENOUGH_MEMORY),
    KT_API(kSetup, SetupInitDefaultQueueCallback, Fails::Zero, ERROR_NOT_ENOUGH_MEMORY, Handle::OpensResult),
    KT_API(kSetup, SetupTermDefaultQueueCallback, Fails::Never, 0, Handle::Closes, 0),
    KT_API(kSetup, SetupInitializeFileLogA, Fails::Invalid, ERROR_ACCESS_DENIED, Handle::OpensResult),
    KT_API(kSetup, SetupTerminateFileLog, Fails::Never, 0, Handle::Closes, 0),
    KT_CRT(malloc, Fails::CrtNull, ENOMEM),
    KT_CRT(calloc, Fails::CrtNull, ENOMEM),
    KT_CRT(realloc, Fails::CrtNull, ENOMEM),
    KT_CRT(fopen, Fails::CrtNull, EACCES, Handle::OpensResult),
    KT_CRT(fclose, Fails::Never, 0, Handle::Closes, 0),
};

std::string ErrorName(const Rule& rule)
{
    if (rule.fails == Fails::CrtNull) return "errno " + std::to_string(rule.error);
    char text[128] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, rule.error, 0, text,
                   sizeof text, nullptr);
    std::string name = text;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == '.')) name.pop_back();
    return "error " + std::to_string(rule.error) + " (" + name + ")";
}

class Hooks {
public:
    explicit Hooks(const std::vector<HMODULE>& modules)
    {
        for (HMODULE module : modules)
            if (module)
            for (Entry& entry : entries) {
                void* old = HookImport(module, entry.rule.dll, entry.rule.function, entry.replacement);
                if (!old || old == entry.replacement) continue;
                entry.slot->original = old;
                entry.slot->rule = &entry.rule;
                hooked_.push_back({module, &entry});
            }
    }
    ~Hooks()
    {
        for (auto& [module, entry] : hooked_)
            HookImport(module, entry->rule.dll, entry->rule.function, entry->slot->original);
    }
    Hooks(const Hooks&) = delete;
    Hooks& operator=(const Hooks&) = delete;

private:
    std::vector<std::pair<HMODULE, Entry*>> hooked_;
};

bool StartsWith(const std::string& name, const char* prefix)
{
    return name.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string Shown(const State& state, const std::string& name)
{
    auto it = state.find(name);
    if (it == state.end()) return "(absent)";
    std::string text = "'";
    for (unsigned char c : it->second.substr(0, 48)) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02x", c);
        text += escaped;
    }
    return text + "'";
}

// The broken invariants of one run, given the start state, the state an undisturbed run leaves
// and the state this run left.
std::vector<std::string> Compare(const State& before, const State& done, const State& after, bool success)
{
    std::vector<std::string> broken;
    std::set<std::string> names;
    for (const State* state : {&before, &done, &after})
        for (const auto& [name, value] : *state) names.insert(name);
    for (const std::string& name : names) {
        const std::string now = Shown(after, name);
        if (StartsWith(name, "dacl:")) {
            if (after.count(name) && before.count(name) && now != Shown(before, name))
                broken.push_back("access rights of " + name.substr(5) + " changed");
            continue;
        }
        if (!success && StartsWith(name, "result:")) continue;
        if (success && now != Shown(done, name))
            broken.push_back("reported success, but " + name + " is " + now + ", not " + Shown(done, name));
        else if (!success && now != Shown(before, name) && now != Shown(done, name))
            broken.push_back(name + " is " + now + ": neither as before (" + Shown(before, name) + ") nor as done");
    }
    return broken;
}

bool RunOnce(const Flow& flow, std::string& escaped)
{
    std::set<DWORD> threads;
    if (!flow.countsFromMark) threads.insert(GetCurrentThreadId());
    EnterCriticalSection(&run.lock);
    run.calls.clear();
    run.open.clear();
    run.threads.swap(threads);
    run.injected = false;
    run.counting = true;
    LeaveCriticalSection(&run.lock);
    bool success = false;
    try {
        success = flow.run();
    } catch (const std::exception& e) {
        escaped = std::string("exception escaped: ") + e.what();
    } catch (...) {
        escaped = "exception escaped";
    }
    EnterCriticalSection(&run.lock);
    run.counting = false;
    LeaveCriticalSection(&run.lock);
    return success;
}

// One point alone (KT_SWEEP_POINT, counted from 1), for looking into one break.
size_t OnlyPointFromEnvironment()
{
    const char* text = std::getenv("KT_SWEEP_POINT");
    return text ? std::strtoul(text, nullptr, 10) : 0;
}

size_t SampleFromEnvironment()
{
    const char* text = std::getenv("KT_SWEEP_SAMPLE");
    const long step = text ? std::strtol(text, nullptr, 10) : 1;
    return step > 1 ? static_cast<size_t>(step) : 1;
}

Mode ModeFromEnvironment()
{
    const char* text = std::getenv("KT_SWEEP");
    return text && std::strcmp(text, "every") == 0 ? Mode::EveryCall : Mode::EverySite;
}

// A flow with this few calls has every one failed whatever the mode.
constexpr size_t kEveryCallUpTo = 40;

// The points a run fails: every call, or at each call site (function and caller) its first two
// calls, which tell a first pass through a loop from the later ones; then every sample-th of
// those, always with the first and the last.
std::vector<bool> Choose(const std::vector<CallPoint>& points, Mode mode, size_t sample, int perSite)
{
    std::vector<bool> chosen(points.size());
    std::map<std::pair<const Rule*, void*>, int> seen;
    size_t kept = 0;
    for (size_t index = 0; index < points.size(); ++index) {
        const bool wanted = mode == Mode::EveryCall || points.size() <= kEveryCallUpTo ||
                            ++seen[{points[index].rule, points[index].site}] <= perSite;
        if (wanted) chosen[index] = kept++ % sample == 0 || index + 1 == points.size();
    }
    return chosen;
}

}  // namespace

void CountFrom(DWORD thread)
{
    Inside inside;
    EnterCriticalSection(&run.lock);
    run.threads.insert(thread);
    LeaveCriticalSection(&run.lock);
}

void StopCounting()
{
    Inside inside;
    EnterCriticalSection(&run.lock);
    run.threads.clear();
    LeaveCriticalSection(&run.lock);
}

Report Sweep(const std::vector<HMODULE>& modules, const Flow& flow)
{
    const Mode mode = ModeFromEnvironment();
    const size_t sample = SampleFromEnvironment();
    const DWORD started = GetTickCount();
    Report report;
    Hooks hooks(modules);
    // Undisturbed twice, counted the second time: a first run in the process allocates what later
    // runs find ready (containers keep their capacity), and every run must meet the same calls.
    std::string escaped;
    State before;
    for (int pass = 0; pass < 2; ++pass) {
        flow.prepare();
        before = flow.state();
        if (!RunOnce(flow, escaped) || !escaped.empty()) {
            report.breaks.push_back("the undisturbed run failed " + escaped);
            return report;
        }
    }
    const State done = flow.state();
    const std::vector<CallPoint> points = run.calls;
    report.points = points.size();
    std::set<std::pair<const Rule*, void*>> sites;
    for (const CallPoint& point : points) sites.insert({point.rule, point.site});
    report.sites = sites.size();
    for (const auto& [handle, opener] : run.open) report.breaks.push_back("undisturbed run: left open: " + opener);
    const size_t only = OnlyPointFromEnvironment();
    const std::vector<bool> chosen = Choose(points, mode, sample, flow.callsPerSite);
    for (size_t index = 0; index < points.size(); ++index) {
        if (only ? index + 1 != only : !chosen[index]) continue;
        // Said before the run: a crash or a hang must still name its point.
        std::fprintf(stderr, "[sweep %zu/%zu] %s\n", index + 1, points.size(), Describe(points[index]).c_str());
        std::fflush(stderr);
        flow.prepare();
        run.failAt = index;
        escaped.clear();
        const bool success = RunOnce(flow, escaped);
        run.failAt = SIZE_MAX;
        ++report.runs;
        if (!run.injected) continue;  // the run took a shorter path (a service that was quicker)
        // Described as this run met it: a run may take another path than the undisturbed one.
        const CallPoint& point = run.calls[index];
        const std::string injection = Describe(point) + " failed with " + ErrorName(*point.rule);
        std::vector<std::string> broken = Compare(before, done, flow.state(), success);
        if (!escaped.empty()) broken.push_back(escaped);
        for (const auto& [handle, opener] : run.open) broken.push_back("left open: " + opener);
        for (const std::string& text : broken) report.breaks.push_back(injection + ": " + text);
    }
    report.seconds = (GetTickCount() - started) / 1000.0;
    return report;
}

State RegistryState(HKEY root, const std::string& path)
{
    State state;
    for (const auto& [relative, dacl] : cardsim::DaclSnapshot(root, path)) {
        const std::string keyPath = relative.empty() ? path : path + "\\" + relative;
        if (dacl.compare(0, 6, "error ") == 0) continue;
        state["dacl:" + keyPath] = dacl;
        state["key:" + keyPath] = "";
        HKEY key;
        if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        for (DWORD index = 0;; ++index) {
            char name[256];
            BYTE data[4096];
            DWORD nameChars = sizeof name, type = 0, bytes = sizeof data;
            if (RegEnumValueA(key, index, name, &nameChars, nullptr, &type, data, &bytes) != ERROR_SUCCESS) break;
            state[keyPath + ":" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), bytes);
        }
        RegCloseKey(key);
    }
    return state;
}

void WriteValues(HKEY root, const State& state)
{
    for (const auto& [name, value] : state) {
        const size_t colon = name.rfind(':'), typeEnd = value.find(':');
        if (StartsWith(name, "dacl:") || StartsWith(name, "key:") || colon == std::string::npos) continue;
        HKEY key;
        if (RegCreateKeyExA(root, name.substr(0, colon).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr))
            continue;
        const std::string data = value.substr(typeEnd + 1);
        RegSetValueExA(key, name.substr(colon + 1).c_str(), 0, std::stoul(value.substr(0, typeEnd)),
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
        RegCloseKey(key);
    }
}

}  // namespace faultsweep
