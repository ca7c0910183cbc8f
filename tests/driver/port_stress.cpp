#include "port_stress.h"

#include "ktpptnt.h"
#include "port_client.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace stress {
namespace {

const std::wstring kPorts[] = {L"\\Device\\ParallelPort0", L"\\Device\\ParallelPort1"};
constexpr int kPortCount = 2;
const std::wstring kProductKey = L"\\Registry\\Machine\\SOFTWARE\\Tervane\\Qarix";

// What every thread shares: problems found, owners per port, requests open to cancellation.
struct Shared {
    std::mutex lock;
    std::vector<std::string> problems;
    std::vector<uint64_t> cancellable;
    std::atomic<int> owners[kPortCount] = {};
    std::atomic<uint64_t> operations{0};
    std::atomic<uint64_t> queued{0}, cancelled{0}, interrupts{0}, takenAtInterrupt{0};
    std::atomic<bool> stop{false};
    uint64_t target = 0;

    void Problem(const std::string& what)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (problems.size() < 20) problems.push_back(what);
    }
    void Own(int port)
    {
        if (owners[port].fetch_add(1) != 0) Problem("port " + std::to_string(port) + " owned twice");
    }
    void Disown(int port) { owners[port].fetch_sub(1); }
};

// A client's interrupt routine: now and then it takes the port at interrupt level, and gives it
// back at its next interrupt. Its fields change only at interrupt level, or synchronised with it.
struct ClientIsr {
    Shared* shared;
    int port;
    PARALLEL_INTERRUPT_INFORMATION information;
    bool ready = false;  // the information is known: an interrupt may come before that
    bool holding = false;
    unsigned calls = 0;

    void Release()
    {
        holding = false;
        shared->Disown(port);
        information.FreePortFromInterruptLevel(information.Context);
    }
};

BOOLEAN NTAPI ServiceInterrupt(PKINTERRUPT, PVOID context)
{
    auto* isr = static_cast<ClientIsr*>(context);
    if (!isr->ready) return FALSE;
    const unsigned call = isr->calls++;
    if (isr->holding) {
        isr->Release();
    } else if (call % 2 == 0 && isr->information.TryAllocatePortAtInterruptLevel(isr->information.Context)) {
        ++isr->shared->takenAtInterrupt;
        isr->shared->Own(isr->port);
        isr->holding = true;
    }
    return call % 3 == 0;
}

VOID NTAPI CheckPort(PVOID)
{
}

// One client thread's hold on one port.
struct Hold {
    std::unique_ptr<fk::PortClient> client;
    ClientIsr isr;
    bool owner = false, connected = false;
    uint64_t pending = 0;
};

class Client {
public:
    Client(Shared& shared, uint32_t seed) : shared_(shared), random_(seed)
    {
        for (int p = 0; p < kPortCount; ++p) {
            holds_[p].client = std::make_unique<fk::PortClient>(kPorts[p]);
            holds_[p].isr.shared = &shared;
            holds_[p].isr.port = p;
            if (holds_[p].client->GetInfo() != fk::kSuccess) shared.Problem("no port information");
        }
    }

    void Run()
    {
        while (shared_.operations++ < shared_.target) {
            const int port = Pick(kPortCount);
            Step(holds_[port], port);
        }
        for (int p = 0; p < kPortCount; ++p) Finish(holds_[p], p);
    }

private:
    int Pick(int choices) { return static_cast<int>(random_() % static_cast<uint32_t>(choices)); }
    uint8_t Level() { return Pick(2) ? fk::kDispatchLevel : fk::kPassiveLevel; }

    void Step(Hold& hold, int port)
    {
        const int choice = Pick(200);
        if (choice < 40)
            Allocate(hold, port);
        else if (choice < 70)
            Poll(hold, port);
        else if (choice < 90)
            TryAllocate(hold, port);
        else if (choice < 130)
            Free(hold, port);
        else if (choice < 131)
            hold.client->Cleanup();
        else if (choice < 143)
            ToggleInterrupt(hold, port);
        else if (choice < 155)
            ExtraPortInformation(hold);
        else
            std::this_thread::yield();  // let waiting requests be granted
    }

    void Own(Hold& hold, int port)
    {
        shared_.Own(port);
        hold.owner = true;
    }

    void TryAllocate(Hold& hold, int port)
    {
        if (!hold.owner && !hold.pending && hold.client->TryAllocate(Level())) Own(hold, port);
    }

    void Allocate(Hold& hold, int port)
    {
        if (hold.owner || hold.pending) return;
        const fk::Sent sent = hold.client->Allocate();
        if (sent.returned == fk::kSuccess) {
            Own(hold, port);
        } else if (sent.returned == fk::kPending) {
            hold.pending = sent.request;
            ++shared_.queued;
            std::lock_guard<std::mutex> guard(shared_.lock);
            shared_.cancellable.push_back(sent.request);
        } else {
            shared_.Problem("allocate request answered " + std::to_string(sent.returned));
        }
    }

    // A waiting request that has completed: granted, or cancelled by cleanup or the canceller.
    void Poll(Hold& hold, int port)
    {
        if (!hold.pending || !fk::IsComplete(hold.pending)) return;
        Settle(hold, port, fk::WaitForCompletion(hold.pending).status);
    }

    void Settle(Hold& hold, int port, fk::Status status)
    {
        hold.pending = 0;
        if (status == fk::kSuccess)
            Own(hold, port);
        else
            ++shared_.cancelled;
    }

    void Free(Hold& hold, int port)
    {
        if (!hold.owner) return;
        hold.owner = false;
        shared_.Disown(port);
        hold.client->Free(Level());
    }

    void ToggleInterrupt(Hold& hold, int port)
    {
        ClientIsr& isr = hold.isr;
        if (hold.connected) {
            // A port the routine still holds is given back, synchronised with the interrupt.
            fk::SynchroniseWithInterrupt(kPorts[port], [&isr] {
                if (isr.holding) isr.Release();
                isr.ready = false;
            });
            if (hold.client->DisconnectInterrupt(ServiceInterrupt, &isr) != fk::kSuccess)
                shared_.Problem("disconnect refused");
            hold.connected = false;
            return;
        }
        const fk::Completion done = hold.client->ConnectInterrupt(ServiceInterrupt, &isr, CheckPort, &isr);
        if (done.status != fk::kSuccess) {
            shared_.Problem("connect refused");
            return;
        }
        fk::SynchroniseWithInterrupt(kPorts[port], [&isr, &hold] {
            std::memcpy(&isr.information, &hold.client->interrupt(), sizeof isr.information);
            isr.ready = true;
        });
        hold.connected = true;
    }

    void ExtraPortInformation(Hold& hold)
    {
        fk::PortClient& client = *hold.client;
        const uint32_t size = sizeof(PARALLEL_PORT_INFORMATION);
        if (client.Call(IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, size).status != fk::kSuccess)
            shared_.Problem("port information refused");
        if (fk::PagedCodeLocks() != 1) shared_.Problem("pageable code not locked while information is held");
        client.ReleaseInfo();
    }

    void Finish(Hold& hold, int port)
    {
        Free(hold, port);
        if (hold.pending) {
            fk::CancelRequest(hold.pending);
            Settle(hold, port, fk::WaitForCompletion(hold.pending).status);
            Free(hold, port);
        }
        if (hold.connected) ToggleInterrupt(hold, port);
        hold.client->ReleaseInfo();
        hold.client->Close();
    }

    Shared& shared_;
    std::mt19937 random_;
    Hold holds_[kPortCount];
};

// Fires interrupts and looks at the work queues until the clients are done.
void InterruptSource(Shared& shared, uint32_t seed)
{
    std::mt19937 random(seed);
    while (!shared.stop) {
        const int port = static_cast<int>(random() % kPortCount);
        if (fk::FireInterrupt(kPorts[port]) >= 0) ++shared.interrupts;
        const std::string queue = fk::CheckWorkQueue(kPorts[port]);
        if (!queue.empty()) shared.Problem("port " + std::to_string(port) + ": " + queue);
    }
}

// Cancels waiting requests from a thread of its own.
void Canceller(Shared& shared, uint32_t seed)
{
    std::mt19937 random(seed);
    while (!shared.stop) {
        uint64_t request = 0;
        {
            std::lock_guard<std::mutex> guard(shared.lock);
            if (!shared.cancellable.empty()) {
                const size_t at = random() % shared.cancellable.size();
                request = shared.cancellable[at];
                shared.cancellable[at] = shared.cancellable.back();
                shared.cancellable.pop_back();
            }
        }
        if (request && random() % 4 == 0) fk::CancelRequest(request);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Ends the program when the clients make no progress for 30 s (a thread is stuck), with what was
// found so far: a hang is a failure that says so.
void Watchdog(Shared& shared, const std::atomic<bool>& finished)
{
    uint64_t last = 0;
    int quiet = 0;
    while (!finished) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const uint64_t now = shared.operations;
        quiet = now == last ? quiet + 1 : 0;
        last = now;
        if (quiet < 30) continue;
        std::lock_guard<std::mutex> guard(shared.lock);
        for (const std::string& problem : shared.problems) std::printf("problem: %s\n", problem.c_str());
        for (const std::string& failure : fk::VerifierFailures()) std::printf("verifier: %s\n", failure.c_str());
        std::printf("FAILED: no progress for 30 s after %llu operations\n", static_cast<unsigned long long>(now));
        std::fflush(stdout);
        std::_Exit(3);
    }
}

fk::FakeEnumerator* LoadWithTwoPorts()
{
    fk::Reset();
    fk::FakeEnumerator& enumerator = fk::AddEnumerator(L"QARIXBUS0");
    for (uint32_t p = 0; p < kPortCount; ++p) {
        fk::FakePort port;
        port.handle = 0x100 + p;
        port.keyPath = L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS\\0000\\" + std::to_wstring(p);
        port.hasInterrupt = true;
        fk::CreateKey(port.keyPath);
        enumerator.ports.push_back(port);
    }
    fk::SetMultiString(kProductKey, L"Enumerators", {L"QARIXBUS0"});
    return fk::LoadDriver() == fk::kSuccess ? &enumerator : nullptr;
}

// What must hold once every client has finished.
void CheckTheEnd(Shared& shared, const fk::FakeEnumerator& enumerator)
{
    fk::WaitForDeferredCalls();
    for (int p = 0; p < kPortCount; ++p) {
        const fk::PortView port = fk::PortNamed(kPorts[p]);
        if (port.workQueueCount != -1) shared.Problem("a port is not free at the end");
        if (port.interruptRefCount || port.isrEntries) shared.Problem("interrupt routines left connected");
    }
    if (!enumerator.interruptsRegistered.empty() || enumerator.interruptConnects != enumerator.interruptDisconnects)
        shared.Problem("registrations with the enumerator do not match the connections");
    if (fk::PortInfoUsers() != 0 || fk::PagedCodeLocks() != 0) shared.Problem("port information left granted");
    fk::UnloadDriver();
    for (const std::string& failure : fk::VerifierFailures()) shared.Problem("verifier: " + failure);
    for (const std::string& misuse : fk::ClientMisuse()) shared.Problem("client misuse: " + misuse);
}

}  // namespace

Result Run(uint64_t operations, uint32_t seed, int clients)
{
    Result result;
    Shared shared;
    shared.target = operations;
    const fk::FakeEnumerator* enumerator = LoadWithTwoPorts();
    if (!enumerator) {
        result.problems.push_back("the driver did not load");
        return result;
    }
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> finished{false};
    std::thread watchdog(Watchdog, std::ref(shared), std::cref(finished));
    std::thread source(InterruptSource, std::ref(shared), seed ^ 0x5eed);
    std::thread canceller(Canceller, std::ref(shared), seed ^ 0xca9ce1);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&shared, seed, c] { Client(shared, seed * 7919u + static_cast<uint32_t>(c)).Run(); });
    for (std::thread& thread : threads) thread.join();
    shared.stop = true;
    source.join();
    canceller.join();
    finished = true;
    watchdog.join();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.operations = operations;
    const int deferredCalls = fk::WaitForDeferredCalls();
    CheckTheEnd(shared, *enumerator);
    result.problems = shared.problems;
    result.summary = std::to_string(shared.queued) + " requests queued, " + std::to_string(shared.cancelled) +
                     " of them cancelled; " + std::to_string(shared.interrupts) + " interrupts serviced, the port taken " +
                     std::to_string(shared.takenAtInterrupt) + " times at interrupt level; " +
                     std::to_string(deferredCalls) + " deferred frees";
    return result;
}

}  // namespace stress
