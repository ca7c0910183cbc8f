// Where and when driver code runs: per-thread levels, the cancel spin lock, interrupt objects,
// events, fast mutexes, deferred calls on their own thread, and the driver's pageable code.
#include <chrono>
#include <cstring>

#include "kernel_state.h"

#include <ntimage.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace fk {
namespace {

constexpr UCHAR kMutantObject = 2;  // the kernel's object type of a mutex; events are 0 and 1

thread_local KIRQL threadLevel = PASSIVE_LEVEL;
thread_local char threadToken;  // its address names the thread to fast mutexes

struct Section {
    uintptr_t begin, end;
    bool init;  // discarded once the driver has loaded
};

// The driver's sections named PAGE... (pageable) and INIT (discarded after load) in this program.
const std::vector<Section>& DriverSections()
{
    static const std::vector<Section> sections = [] {
        std::vector<Section> found;
        auto* base = reinterpret_cast<PUCHAR>(&__ImageBase);
        auto* headers = reinterpret_cast<PIMAGE_NT_HEADERS>(base + __ImageBase.e_lfanew);
        PIMAGE_SECTION_HEADER section = IMAGE_FIRST_SECTION(headers);
        for (unsigned i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
            const char* name = reinterpret_cast<const char*>(section->Name);
            const bool paged = std::strncmp(name, "PAGE", 4) == 0, init = std::strncmp(name, "INIT", 8) == 0;
            if (!paged && !init) continue;
            const uintptr_t begin = reinterpret_cast<uintptr_t>(base) + section->VirtualAddress;
            found.push_back(Section{begin, begin + section->Misc.VirtualSize, init});
        }
        return found;
    }();
    return sections;
}

const Section* SectionOf(const void* code)
{
    const auto address = reinterpret_cast<uintptr_t>(code);
    for (const Section& section : DriverSections())
        if (address >= section.begin && address < section.end) return &section;
    return nullptr;
}

struct DeferredThread {
    std::thread thread;
    bool stop = false;
};

DeferredThread& Worker()
{
    static auto* worker = new DeferredThread;  // never destroyed: it may outlive static destructors
    return *worker;
}

// The thread on which enumerators service their interrupts: one piece of work at a time.
struct InterruptThread {
    std::thread thread;
    std::deque<std::function<void()>> work;
    uint64_t posted = 0, done = 0;  // tickets, served in order
    bool stop = false;
};

InterruptThread& Interrupts()
{
    static auto* interrupts = new InterruptThread;
    return *interrupts;
}

void ServiceInterrupts()
{
    Hold lock(Lock());
    for (;;) {
        WaitFor(lock, kForever, [] { return Interrupts().stop || !Interrupts().work.empty(); });
        if (Interrupts().stop) return;
        std::function<void()> work = std::move(Interrupts().work.front());
        lock.unlock();
        work();
        lock.lock();
        Interrupts().work.pop_front();
        ++Interrupts().done;
    }
}

void RunDeferred()
{
    Hold lock(Lock());
    for (;;) {
        WaitFor(lock, kForever, [] { return Worker().stop || (!K().deferred.empty() && !K().deferredHeld); });
        if (Worker().stop) return;
        std::function<void()> work = std::move(K().deferred.front());
        K().deferred.pop_front();
        K().deferredBusy = true;
        lock.unlock();
        const KIRQL previous = RaiseLevel(DISPATCH_LEVEL);
        work();
        LowerLevel(previous);
        lock.lock();
        K().deferredBusy = false;
        ++K().deferredRuns;
    }
}

FakeInterrupt* InterruptOf(PKINTERRUPT object)
{
    Guard guard(Lock());
    for (const auto& interrupt : K().interrupts)
        if (reinterpret_cast<PKINTERRUPT>(interrupt.get()) == object) return interrupt.get();
    Fail("synchronising with an object that is not an interrupt");
    return nullptr;
}

}  // namespace

std::recursive_mutex& Lock()
{
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

KIRQL CurrentLevel()
{
    return threadLevel;
}

KIRQL RaiseLevel(KIRQL level)
{
    const KIRQL previous = threadLevel;
    if (level < previous) Fail("raising the level to one below the current level");
    threadLevel = level;
    return previous;
}

void LowerLevel(KIRQL level)
{
    if (level > threadLevel) Fail("lowering the level to one above the current level");
    threadLevel = level;
}

void CheckResident(const void* code, const char* what)
{
    if (threadLevel < DISPATCH_LEVEL) return;
    const Section* section = SectionOf(code);
    if (!section) return;
    Guard guard(Lock());
    if (section->init)
        Fail(std::string(what) + ": initialisation code runs at DISPATCH_LEVEL or above");
    else if (K().lockedSections[section->begin] <= 0)
        Fail(std::string(what) + ": pageable code runs at DISPATCH_LEVEL or above while its section is not locked");
}

void CheckCaller(const void* returnAddress, const char* call)
{
    const Section* section = SectionOf(returnAddress);
    if (!section) return;
    if (section->init && K().driverEntryDone)
        Fail(std::string("initialisation code calls ") + call + " after the driver has loaded");
    CheckResident(returnAddress, call);
}

void Defer(std::function<void()> work)
{
    Guard guard(Lock());
    if (!Worker().thread.joinable()) {
        Worker().stop = false;
        Worker().thread = std::thread(RunDeferred);
    }
    K().deferred.push_back(std::move(work));
}

void RunOnInterruptThread(const std::function<void()>& work)
{
    Hold lock(Lock());
    if (!Interrupts().thread.joinable()) {
        Interrupts().stop = false;
        Interrupts().thread = std::thread(ServiceInterrupts);
    }
    Interrupts().work.push_back(work);
    const uint64_t ticket = ++Interrupts().posted;
    WaitFor(lock, kForever, [ticket] { return Interrupts().done >= ticket || Interrupts().stop; });
}

void StopKernelThreads()
{
    threadLevel = PASSIVE_LEVEL;  // the thread that resets the kernel starts afresh too
    {
        Guard guard(Lock());
        Worker().stop = Interrupts().stop = true;
    }
    if (Worker().thread.joinable()) Worker().thread.join();
    if (Interrupts().thread.joinable()) Interrupts().thread.join();
    Worker().stop = Interrupts().stop = false;
    Interrupts().work.clear();
    Interrupts().posted = Interrupts().done = 0;
}

SpinLock& CancelLock()
{
    static auto* lock = new SpinLock;
    return *lock;
}

void EnterSection(FakeInterrupt& interrupt)
{
    if (!interrupt.look) return;
    const SharedState now = interrupt.look();
    const SharedState& before = interrupt.afterLastSection;
    if (now.isrList != before.isrList) Fail("the ISR list changed outside the interrupt's lock");
    // While interrupts stayed connected, the count changes only inside the lock.
    const bool stayedConnected = before.connections && now.connections &&
                                 interrupt.registrations == interrupt.registrationsAtLastSection;
    if (stayedConnected && now.workQueueCount != before.workQueueCount)
        Fail("the port's count changed outside the interrupt's lock while interrupts are connected");
}

void LeaveSection(FakeInterrupt& interrupt)
{
    if (!interrupt.look) return;
    interrupt.afterLastSection = interrupt.look();
    interrupt.registrationsAtLastSection = interrupt.registrations;
}

void HoldDeferredCalls(bool hold)
{
    Guard guard(Lock());
    K().deferredHeld = hold;
}

void BeforeSynchronisedCall(const void* routine, std::function<void()> work)
{
    Guard guard(Lock());
    K().beforeRoutine = routine;
    K().beforeWork = std::move(work);
}

int WaitForDeferredCalls()
{
    Hold lock(Lock());
    // Held calls are not waited for: the thread is slow, not stuck.
    if (!WaitFor(lock, std::chrono::seconds(30),
                 [] { return (K().deferred.empty() || K().deferredHeld) && !K().deferredBusy; }))
        Fail("deferred calls still running after 30 s");
    return K().deferredRuns;
}

bool InPageableCode(const void* code)
{
    return SectionOf(code) != nullptr;
}

int PagedCodeLocks()
{
    Guard guard(Lock());
    int locks = 0;
    for (const auto& section : K().lockedSections) locks += section.second;
    return locks;
}

void RunAtLevel(uint8_t level, const void* routine, const std::function<void()>& work)
{
    const KIRQL previous = RaiseLevel(level);
    CheckResident(routine, "a routine called by a client");
    work();
    LowerLevel(previous);
}

}  // namespace fk

using fk::K;

// --- the cancel spin lock ---

extern "C" VOID NTAPI IoAcquireCancelSpinLock(PKIRQL irql)
{
    if (fk::CurrentLevel() > DISPATCH_LEVEL) fk::Fail("acquiring the cancel spin lock above DISPATCH_LEVEL");
    if (fk::CancelLock().HeldByMe()) {
        fk::Fail("acquiring the cancel spin lock while holding it");
        *irql = fk::CurrentLevel();
        return;
    }
    fk::CancelLock().Acquire();
    *irql = fk::RaiseLevel(DISPATCH_LEVEL > fk::CurrentLevel() ? DISPATCH_LEVEL : fk::CurrentLevel());
    K().cancelSavedLevel = *irql;
    fk::CheckCaller(__builtin_return_address(0), "IoAcquireCancelSpinLock");
}

extern "C" VOID NTAPI IoReleaseCancelSpinLock(KIRQL irql)
{
    if (!fk::CancelLock().HeldByMe()) {
        fk::Fail("releasing the cancel spin lock without holding it");
        return;
    }
    fk::CheckCaller(__builtin_return_address(0), "IoReleaseCancelSpinLock");
    if (irql != K().cancelSavedLevel) fk::Fail("releasing the cancel spin lock with another level than it was taken at");
    fk::CancelLock().Release();
    fk::LowerLevel(irql);
}

// --- interrupt objects ---

extern "C" BOOLEAN NTAPI KeSynchronizeExecution(PKINTERRUPT object, PKSYNCHRONIZE_ROUTINE routine, PVOID context)
{
    if (!object) {
        fk::Fail("synchronising with no interrupt object");
        return FALSE;
    }
    std::function<void()> before;
    {
        fk::Guard guard(fk::Lock());
        if (K().beforeRoutine == reinterpret_cast<const void*>(routine)) {
            before = std::move(K().beforeWork);
            K().beforeRoutine = nullptr;
        }
    }
    if (before) before();
    fk::FakeInterrupt* interrupt = fk::InterruptOf(object);
    if (!interrupt) return FALSE;
    fk::CheckCaller(__builtin_return_address(0), "KeSynchronizeExecution");
    if (interrupt->lock.HeldByMe()) {
        fk::Fail("synchronising with an interrupt inside its own lock");
        return FALSE;
    }
    if (fk::CurrentLevel() > interrupt->level) fk::Fail("synchronising with an interrupt above its level");
    const KIRQL previous = fk::RaiseLevel(interrupt->level);
    interrupt->lock.Acquire();
    {
        fk::Guard guard(fk::Lock());
        ++interrupt->synchronisedCalls;
    }
    fk::CheckResident(reinterpret_cast<const void*>(routine), "an interrupt-synchronised routine");
    fk::EnterSection(*interrupt);
    const BOOLEAN result = routine(context);
    fk::LeaveSection(*interrupt);
    interrupt->lock.Release();
    fk::LowerLevel(previous);
    return result;
}

// --- events ---

extern "C" VOID NTAPI KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    fk::Guard guard(fk::Lock());
    event->Header.Type = static_cast<UCHAR>(type);
    event->Header.SignalState = state;
}

extern "C" LONG NTAPI KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN)
{
    fk::Guard guard(fk::Lock());
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 1;
    return previous;
}

extern "C" VOID NTAPI KeClearEvent(PRKEVENT event)
{
    fk::Guard guard(fk::Lock());
    event->Header.SignalState = 0;
}

// Only deferred work (late answers of enumerators) sets the events the driver waits for: a wait
// with nothing deferred would never end.
extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER)
{
    if (fk::CurrentLevel() >= DISPATCH_LEVEL) fk::Fail("waiting at DISPATCH_LEVEL or above");
    fk::Hold lock(fk::Lock());
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    if (header->Type == fk::kMutantObject) {
        // Held by another client thread for a while at most.
        auto* mutex = static_cast<PRKMUTEX>(object);
        auto* me = reinterpret_cast<PKTHREAD>(&fk::threadToken);
        if (mutex->OwnerThread == me) {
            fk::Fail("waiting for a mutex the thread holds");
            return STATUS_SUCCESS;
        }
        if (!fk::WaitFor(lock, std::chrono::seconds(30), [mutex] { return mutex->Header.SignalState != 0; })) {
            fk::Fail("waiting for a mutex that nobody releases");
            return STATUS_TIMEOUT;
        }
        mutex->Header.SignalState = 0;
        mutex->OwnerThread = me;
        return STATUS_SUCCESS;
    }
    auto* event = static_cast<PRKEVENT>(object);
    const bool set = fk::WaitFor(lock, std::chrono::seconds(30), [event] {
        return event->Header.SignalState || (K().deferred.empty() && !K().deferredBusy);
    });
    if (!set || !event->Header.SignalState) {
        fk::Fail("waiting for an event that nothing will set");
        return STATUS_TIMEOUT;
    }
    if (event->Header.Type == SynchronizationEvent) event->Header.SignalState = 0;
    return STATUS_SUCCESS;
}

// --- mutex objects ---

extern "C" VOID NTAPI KeInitializeMutex(PRKMUTEX mutex, ULONG)
{
    fk::Guard guard(fk::Lock());
    std::memset(mutex, 0, sizeof *mutex);
    mutex->Header.Type = fk::kMutantObject;
    mutex->Header.SignalState = 1;
}

extern "C" LONG NTAPI KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
    fk::Guard guard(fk::Lock());
    if (mutex->OwnerThread != reinterpret_cast<PKTHREAD>(&fk::threadToken)) {
        fk::Fail("releasing a mutex without holding it");
        return 0;
    }
    mutex->OwnerThread = nullptr;
    mutex->Header.SignalState = 1;
    return 0;
}

// --- fast mutexes ---

extern "C" VOID FASTCALL ExAcquireFastMutex(PFAST_MUTEX mutex)
{
    if (fk::CurrentLevel() > APC_LEVEL) fk::Fail("acquiring a fast mutex above APC_LEVEL");
    auto* me = reinterpret_cast<PKTHREAD>(&fk::threadToken);
    fk::Hold lock(fk::Lock());
    if (mutex->Owner == me) {
        fk::Fail("acquiring a fast mutex while holding it");
        return;
    }
    fk::WaitFor(lock, fk::kForever, [mutex] { return mutex->Owner == nullptr; });
    mutex->Owner = me;
    mutex->OldIrql = fk::RaiseLevel(APC_LEVEL);
}

extern "C" VOID FASTCALL ExReleaseFastMutex(PFAST_MUTEX mutex)
{
    fk::Guard guard(fk::Lock());
    if (mutex->Owner != reinterpret_cast<PKTHREAD>(&fk::threadToken)) {
        fk::Fail("releasing a fast mutex without holding it");
        return;
    }
    mutex->Owner = nullptr;
    fk::LowerLevel(static_cast<KIRQL>(mutex->OldIrql));
}

// --- deferred calls ---

extern "C" VOID NTAPI KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context)
{
    std::memset(dpc, 0, sizeof *dpc);
    dpc->DeferredRoutine = routine;
    dpc->DeferredContext = context;
}

extern "C" BOOLEAN NTAPI KeInsertQueueDpc(PRKDPC dpc, PVOID argument1, PVOID argument2)
{
    fk::CheckCaller(__builtin_return_address(0), "KeInsertQueueDpc");
    fk::Guard guard(fk::Lock());
    if (!K().queuedDpcs.insert(dpc).second) return FALSE;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    fk::Defer([dpc] {
        {
            fk::Guard guard(fk::Lock());
            if (!K().queuedDpcs.erase(dpc)) return;  // taken off the queue meanwhile
        }
        fk::CheckResident(reinterpret_cast<const void*>(dpc->DeferredRoutine), "a deferred routine");
        dpc->DeferredRoutine(dpc, dpc->DeferredContext, dpc->SystemArgument1, dpc->SystemArgument2);
    });
    return TRUE;
}

extern "C" BOOLEAN NTAPI KeRemoveQueueDpc(PRKDPC dpc)
{
    fk::CheckCaller(__builtin_return_address(0), "KeRemoveQueueDpc");
    fk::Guard guard(fk::Lock());
    return K().queuedDpcs.erase(dpc) ? TRUE : FALSE;
}

extern "C" NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval)
{
    if (fk::CurrentLevel() > APC_LEVEL) fk::Fail("waiting above APC_LEVEL");
    const int64_t ticks = interval->QuadPart < 0 ? -interval->QuadPart : 0;  // relative, 100 ns
    std::this_thread::sleep_for(std::chrono::microseconds(ticks / 10));
    return STATUS_SUCCESS;
}

// --- the driver's pageable code ---

extern "C" PVOID NTAPI MmLockPagableDataSection(PVOID address)
{
    if (fk::CurrentLevel() > APC_LEVEL) fk::Fail("locking pageable code above APC_LEVEL");
    const fk::Section* section = fk::SectionOf(address);
    if (!section || section->init) {
        fk::Fail("locking an address that is not in a pageable section");
        return nullptr;
    }
    std::this_thread::yield();  // paging the code in takes a while; other threads run meanwhile
    fk::Guard guard(fk::Lock());
    ++K().lockedSections[section->begin];
    return reinterpret_cast<PVOID>(section->begin);
}

extern "C" VOID NTAPI MmUnlockPagableImageSection(PVOID handle)
{
    if (fk::CurrentLevel() > APC_LEVEL) fk::Fail("unlocking pageable code above APC_LEVEL");
    std::this_thread::yield();
    fk::Guard guard(fk::Lock());
    if (!handle || K().lockedSections[reinterpret_cast<uintptr_t>(handle)] <= 0) {
        fk::Fail("unlocking pageable code that is not locked");
        return;
    }
    --K().lockedSections[reinterpret_cast<uintptr_t>(handle)];
}
