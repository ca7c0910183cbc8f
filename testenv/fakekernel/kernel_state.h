// Internal state of the fake kernel, shared by its parts. Compiled against the DDK headers.
//
// Several threads drive the kernel at once (clients, the deferred-call thread), so its state is
// guarded by one recursive lock. The lock is never held while driver code runs or while a thread
// waits for a spin lock.
#pragma once

#include <ntddk.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_kernel.h"

struct PortInterface;  // the driver's view of an enumerator's port function table

namespace fk {

struct PoolBlock {
    size_t size;
    ULONG tag;
    POOL_TYPE type;
};

struct NamedObject {
    PDEVICE_OBJECT device;
    FakeEnumerator* enumerator;  // for enumerator devices
};

// A spin lock that remembers its owner, so that misuse is reported instead of deadlocking.
class SpinLock {
public:
    bool HeldByMe() const { return owner_.load() == std::this_thread::get_id(); }
    bool Held() const { return owner_.load() != std::thread::id(); }
    void Acquire()
    {
        while (held_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
        owner_.store(std::this_thread::get_id());
    }
    void Release()
    {
        owner_.store(std::thread::id());
        held_.store(false, std::memory_order_release);
    }

private:
    std::atomic<bool> held_{false};
    std::atomic<std::thread::id> owner_{};
};

// What must not change outside the interrupt's lock while clients share it: the port's ISR list
// (a fingerprint of its links) and, while interrupts are connected, the ownership count.
struct SharedState {
    uint64_t isrList = 0;
    LONG workQueueCount = 0;
    ULONG connections = 0;
};

// An interrupt object as the enumerator owns it: a lock and the level it synchronises at. Once a
// port registers for it, every section inside the lock checks on entry that nothing changed since
// the last section ended.
struct FakeInterrupt {
    SpinLock lock;
    KIRQL level = 8;
    int synchronisedCalls = 0;
    std::function<SharedState()> look;  // set when the driver registers its routine
    SharedState afterLastSection;
    int registrations = 0;              // registrations and unregistrations so far
    int registrationsAtLastSection = 0;
};

// Around every section inside an interrupt's lock, with the lock held.
void EnterSection(FakeInterrupt& interrupt);
void LeaveSection(FakeInterrupt& interrupt);
// The driver's shared state of the port whose extension registered for the interrupt.
std::function<SharedState()> WatchPort(void* portExtension);
// What the shared interrupt routine walks at device level must be in nonpaged pool.
void CheckIsrListPool(const void* portExtension);

// A request sent by a test client, kept until Reset so that late looks at it stay valid.
struct ClientRequest {
    uint64_t id;
    PIRP irp;
    uint32_t code;  // of an internal control request; 0 for the others
    uint32_t outputLength;
    Status returned = kPending;
    bool completed = false;
    Completion completion;
};

struct Kernel {
    std::vector<std::string> failures;
    std::vector<std::string> misuse;
    CONFIGURATION_INFORMATION configuration = {};
    std::map<void*, PoolBlock> pool;
    int poolSuccessesBeforeFailure = -1;  // -1: no failure injected
    bool failDeviceCreation = false;
    bool failErrorLog = false;
    std::map<std::wstring, NamedObject> namespace_;  // upper-cased object names
    std::map<PDEVICE_OBJECT, std::wstring> deviceNames;
    std::map<PFILE_OBJECT, int> fileObjects;  // reference counts
    std::set<PIRP> liveIrps;
    std::set<PIRP> finishedIrps;  // kept, so that a second completion is recognised
    std::vector<LogEntry> errorLog;
    std::vector<std::unique_ptr<FakeEnumerator>> enumerators;
    std::vector<std::unique_ptr<FakeInterrupt>> interrupts;
    DRIVER_OBJECT enumeratorDriver = {};
    DRIVER_OBJECT driver = {};
    bool driverLoaded = false;
    bool driverEntryDone = false;

    // Deferred calls: DPCs and late answers of enumerators, run by one thread at DISPATCH_LEVEL.
    std::deque<std::function<void()>> deferred;
    std::set<PRKDPC> queuedDpcs;
    bool deferredHeld = false;  // the thread runs nothing while set
    bool deferredBusy = false;
    int deferredRuns = 0;

    std::map<PDEVICE_OBJECT, size_t> deviceBytes;  // device object and extension, for the DPC check
    std::map<PIRP, ULONG> outputLengths;           // of requests built with IoBuildDeviceIoControlRequest
    KIRQL cancelSavedLevel = 0;                    // what IoAcquireCancelSpinLock handed out
    // Runs once, at the start of the next synchronised call of that routine, before its lock.
    const void* beforeRoutine = nullptr;
    std::function<void()> beforeWork;

    std::map<uintptr_t, int> lockedSections;  // by the section's start: it is resident while above zero

    std::map<PIRP, std::shared_ptr<ClientRequest>> clientRequests;
    std::map<uint64_t, std::shared_ptr<ClientRequest>> requestsById;
    std::map<uint64_t, PFILE_OBJECT> clientFiles;
    uint64_t nextId = 1;
    int completionOrder = 0;
    int portInfoGrants = 0;  // as the clients counted them
};

Kernel& K();
std::recursive_mutex& Lock();
using Guard = std::lock_guard<std::recursive_mutex>;
using Hold = std::unique_lock<std::recursive_mutex>;

// Waits, holding the lock only while it looks, until ready() or the time is up; false on time-out.
// Looking again every few microseconds keeps the waits independent of condition variables: with
// this toolchain's threads under Wine a notification was seen to hang under load.
template <typename Ready>
bool WaitFor(Hold& lock, std::chrono::milliseconds timeout, Ready ready)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        lock.lock();
    }
    return true;
}
constexpr std::chrono::milliseconds kForever{24 * 3600 * 1000};

void Fail(const std::string& rule);
std::wstring Upper(const std::wstring& text);
std::wstring FromUnicodeString(PCUNICODE_STRING string);

// Registers a device under a name in the object namespace.
void RegisterName(const std::wstring& name, PDEVICE_OBJECT device, FakeEnumerator* enumerator);

// The thread's level, and the checks that driver code runs where it may.
KIRQL CurrentLevel();
KIRQL RaiseLevel(KIRQL level);
void LowerLevel(KIRQL level);
void CheckResident(const void* code, const char* what);
// For a kernel call: the driver code that made it (its return address) runs at the thread's level.
void CheckCaller(const void* returnAddress, const char* call);

// Queues work for the deferred-call thread.
void Defer(std::function<void()> work);
void StopKernelThreads();  // the deferred and interrupt threads; also lowers the caller to PASSIVE_LEVEL
// Runs work on the thread that services interrupts and waits until it has run.
void RunOnInterruptThread(const std::function<void()>& work);
SpinLock& CancelLock();

// A new request with stack locations for device; whether a request is neither completed nor freed.
PIRP AllocateIrp(PDEVICE_OBJECT device);
bool IsLive(PIRP irp);

// The registry's part of Reset and of the leak checks.
void ResetRegistry();
void ResetEnumerators();
// The port's interrupt, serviced on the interrupt thread: what the registered routine answered,
// -1 when none is registered or the port has no interrupt.
int FireInterrupt(::PortInterface* table);
int OpenRegistryHandles();

}  // namespace fk
