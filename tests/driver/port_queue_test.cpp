// Clients taking and giving back a port: allocate requests and their queue, cancellation and
// cleanup, the routines handed out, port information and the lock of the pageable code.
#include "ktpptnt.h"
#include "port_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace {

using fk::Completion;
using fk::PortClient;

const std::wstring kPort = L"\\Device\\ParallelPort0";

BOOLEAN NTAPI IgnoreInterrupt(PKINTERRUPT, PVOID)
{
    return FALSE;
}
constexpr fk::Status kCancelled = 0xC0000120, kBufferTooSmall = 0xC0000023;

class PortQueue : public drivertest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        fk::FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
        enumerator.ports[0].hasInterrupt = true;
        Configure({L"QARIXBUS0"});
        ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    }
    static int32_t Count() { return fk::WorkQueueCount(kPort); }
    static Completion Done(const fk::Sent& sent) { return fk::WaitForCompletion(sent.request); }
    // An allocate request that must wait in the queue.
    static fk::Sent Waiter(PortClient& client)
    {
        const fk::Sent sent = client.Allocate();
        EXPECT_EQ(sent.returned, fk::kPending);
        return sent;
    }
    static std::vector<int> Orders(const std::vector<fk::Sent>& requests)
    {
        std::vector<int> orders;
        for (const fk::Sent& sent : requests) orders.push_back(Done(sent).order);
        return orders;
    }
};

TEST_F(PortQueue, RequestsAreGrantedInArrivalOrder)
{
    PortClient owner(kPort), second(kPort), third(kPort);
    ASSERT_EQ(owner.created(), fk::kSuccess);
    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);
    EXPECT_EQ(owner.Waiters(), 0u);  // free

    EXPECT_EQ(owner.Allocate().returned, fk::kSuccess);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(owner.Waiters(), 0u);  // owned, nobody waits
    EXPECT_FALSE(owner.TryAllocate());
    const fk::Sent secondWaits = Waiter(second), thirdWaits = Waiter(third);
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(owner.Waiters(), 2u);

    owner.Free();
    const Completion granted = Done(secondWaits);
    EXPECT_EQ(granted.status, fk::kSuccess);
    EXPECT_EQ(granted.boost, 1);
    EXPECT_FALSE(fk::IsComplete(thirdWaits.request));
    EXPECT_EQ(Count(), 1);
    owner.Free(fk::kDispatchLevel);  // the second client's free, at the highest level allowed
    EXPECT_EQ(Done(thirdWaits).status, fk::kSuccess);
    owner.Free();
    EXPECT_EQ(Count(), -1);
    EXPECT_TRUE(owner.TryAllocate(fk::kDispatchLevel));
    EXPECT_EQ(Count(), 0);
    owner.Free();
    EXPECT_EQ(owner.ReleaseInfo(), fk::kSuccess);
    for (PortClient* client : {&owner, &second, &third}) EXPECT_EQ(client->Close(), fk::kSuccess);
}

TEST_F(PortQueue, CleanupCancelsEveryWaiterNewestFirst)
{
    PortClient owner(kPort), waiting(kPort), other(kPort);
    ASSERT_EQ(owner.Allocate().returned, fk::kSuccess);
    // Waiters of two file objects: cleanup of a third cancels them all.
    const std::vector<fk::Sent> waiters = {Waiter(waiting), Waiter(other), Waiter(waiting)};
    EXPECT_EQ(Count(), 3);
    EXPECT_EQ(other.Cleanup(), fk::kSuccess);
    for (const fk::Sent& sent : waiters) {
        const Completion done = Done(sent);
        EXPECT_EQ(done.status, kCancelled);
        EXPECT_EQ(done.information, 0u);
        EXPECT_EQ(done.boost, 0);
    }
    const std::vector<int> orders = Orders(waiters);
    EXPECT_GT(orders[0], orders[1]);
    EXPECT_GT(orders[1], orders[2]);
    EXPECT_EQ(Count(), 0);  // the owner keeps the port
    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);
    owner.Free();
    owner.ReleaseInfo();
    for (PortClient* client : {&owner, &waiting, &other}) client->Close();
}

TEST_F(PortQueue, CancellingTheMiddleWaiterKeepsTheOthersInOrder)
{
    PortClient owner(kPort), client(kPort);
    ASSERT_EQ(owner.Allocate().returned, fk::kSuccess);
    const fk::Sent first = Waiter(client), middle = Waiter(client), last = Waiter(client);
    // Cancelled by another thread at DISPATCH_LEVEL (the cancel routine gives the lock back at the
    // level the cancellation took it), while no client holds port information.
    std::thread([&] {
        fk::RunAtLevel(fk::kDispatchLevel, nullptr, [&] { EXPECT_TRUE(fk::CancelRequest(middle.request)); });
    }).join();
    EXPECT_EQ(Done(middle).status, kCancelled);
    EXPECT_FALSE(fk::CancelRequest(middle.request));  // completed: nothing left to cancel
    EXPECT_EQ(Count(), 2);

    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);

    owner.Free();
    EXPECT_EQ(Done(first).status, fk::kSuccess);
    EXPECT_FALSE(fk::IsComplete(last.request));
    owner.Free();
    EXPECT_EQ(Done(last).status, fk::kSuccess);
    owner.Free();
    EXPECT_EQ(Count(), -1);

    // A request cancelled before it arrives is refused and leaves the count alone.
    const fk::Sent refused = client.Allocate(true);
    EXPECT_EQ(refused.returned, kCancelled);
    EXPECT_EQ(Count(), -1);
    owner.ReleaseInfo();
    owner.Close();
    client.Close();
}

TEST_F(PortQueue, FreeAtInterruptLevelGrantsAWaiterThroughTheDeferredCall)
{
    PortClient owner(kPort), client(kPort);
    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);
    PVOID port = owner.info().Context;
    const auto atInterrupt = [&](const std::function<void()>& work) { fk::SynchroniseWithInterrupt(kPort, work); };
    BOOLEAN taken = FALSE;
    atInterrupt([&] { taken = PortTryAllocateAtIsr(port); });
    EXPECT_TRUE(taken);
    atInterrupt([&] { taken = PortTryAllocateAtIsr(port); });
    EXPECT_FALSE(taken);
    const int deferredBefore = fk::WaitForDeferredCalls();
    owner.ReleaseInfo();  // the deferred call must not depend on a client holding the information

    atInterrupt([&] { PortFreeAtIsr(port); });  // nobody waits: free at once
    EXPECT_EQ(Count(), -1);
    EXPECT_EQ(fk::WaitForDeferredCalls(), deferredBefore);

    ASSERT_EQ(owner.Allocate().returned, fk::kSuccess);
    const fk::Sent waiter = Waiter(client);
    atInterrupt([&] { PortFreeAtIsr(port); });
    EXPECT_EQ(Count(), 1);  // the waiter is granted outside the interrupt
    const Completion granted = Done(waiter);
    EXPECT_EQ(granted.status, fk::kSuccess);
    EXPECT_EQ(granted.boost, 1);
    EXPECT_EQ(fk::WaitForDeferredCalls(), deferredBefore + 1);
    EXPECT_EQ(Count(), 0);
    atInterrupt([&] { PortFreeAtIsr(port); });
    EXPECT_EQ(Count(), -1);
    owner.Close();
    client.Close();
}

TEST_F(PortQueue, WithAnInterruptConnectedTheCountIsChangedInsideTheInterruptLock)
{
    PortClient client(kPort);
    ASSERT_EQ(client.GetInfo(), fk::kSuccess);
    ASSERT_EQ(client.Allocate().returned, fk::kSuccess);
    client.Free();
    EXPECT_EQ(fk::SynchronisedCalls(kPort), 0);

    ASSERT_EQ(client.ConnectInterrupt(IgnoreInterrupt, nullptr).status, fk::kSuccess);
    int calls = fk::SynchronisedCalls(kPort);
    const auto synchronised = [&](const char* what) {
        const int now = fk::SynchronisedCalls(kPort);
        EXPECT_GT(now, calls) << what;
        calls = now;
    };
    ASSERT_EQ(client.Allocate().returned, fk::kSuccess);
    synchronised("allocate request");
    EXPECT_EQ(client.Waiters(), 0u);
    synchronised("waiters");
    EXPECT_FALSE(client.TryAllocate());
    synchronised("try allocate");
    client.Free();  // one change, then the deferred port checks of a port that stayed free
    EXPECT_EQ(fk::SynchronisedCalls(kPort), calls + 2);
    EXPECT_EQ(client.DisconnectInterrupt(IgnoreInterrupt, nullptr), fk::kSuccess);
    client.ReleaseInfo();
    client.Close();
}

TEST_F(PortQueue, ControlCodesAndTheirMinimumLengths)
{
    PortClient client(kPort);
    const uint32_t infoSize = sizeof(PARALLEL_PORT_INFORMATION), moreSize = sizeof(MORE_PARALLEL_PORT_INFORMATION);
    EXPECT_EQ(client.Call(IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, infoSize - 1).status, kBufferTooSmall);
    EXPECT_EQ(fk::PortInfoUsers(), 0);

    const Completion info = client.Call(IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, infoSize);
    ASSERT_EQ(info.status, fk::kSuccess);
    EXPECT_EQ(info.information, infoSize);
    PARALLEL_PORT_INFORMATION port;
    std::memcpy(&port, info.output.data(), sizeof port);
    EXPECT_EQ(port.OriginalController.QuadPart, 0xD000);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(port.Controller), 0xD000u);
    EXPECT_EQ(port.SpanOfController, 8u);
    EXPECT_EQ(port.TryAllocatePort, PortTryAllocate);
    EXPECT_EQ(port.FreePort, PortFree);
    EXPECT_EQ(port.QueryNumWaiters, PortQueryWaiters);
    EXPECT_NE(port.Context, nullptr);
    EXPECT_EQ(client.ReleaseInfo(), fk::kSuccess);

    EXPECT_EQ(client.Call(IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO, moreSize - 1).status, kBufferTooSmall);
    const Completion more = client.Call(IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO, moreSize);
    ASSERT_EQ(more.status, fk::kSuccess);
    EXPECT_EQ(more.information, moreSize);
    MORE_PARALLEL_PORT_INFORMATION resources;
    std::memcpy(&resources, more.output.data(), sizeof resources);
    EXPECT_EQ(resources.InterfaceType, PCIBus);
    EXPECT_EQ(resources.BusNumber, 1u);
    EXPECT_EQ(resources.InterruptLevel, 7u);
    EXPECT_EQ(resources.InterruptVector, 7u);
    EXPECT_EQ(resources.InterruptAffinity, 1u);
    EXPECT_EQ(resources.InterruptMode, LevelSensitive);

    const uint32_t isrSize = sizeof(PARALLEL_INTERRUPT_SERVICE_ROUTINE);
    const std::vector<uint8_t> shortInput(isrSize - 1);
    EXPECT_EQ(client.Call(IOCTL_INTERNAL_PARALLEL_CONNECT_INTERRUPT, 64, shortInput).status, kBufferTooSmall);
    EXPECT_EQ(client.Call(IOCTL_INTERNAL_PARALLEL_DISCONNECT_INTERRUPT, 0, shortInput).status, kBufferTooSmall);
    const uint32_t unknown = CTL_CODE(FILE_DEVICE_PARALLEL_PORT, 99, METHOD_BUFFERED, FILE_ANY_ACCESS);
    EXPECT_EQ(client.Call(unknown, 64).status, fk::kInvalidParameter);
    client.Close();
}

TEST_F(PortQueue, PortInformationKeepsThePageableCodeLockedWhileItIsHeld)
{
    PortClient first(kPort), second(kPort);
    EXPECT_EQ(fk::PagedCodeLocks(), 0);
    ASSERT_EQ(first.GetInfo(), fk::kSuccess);
    ASSERT_EQ(second.GetInfo(), fk::kSuccess);
    EXPECT_EQ(fk::PortInfoUsers(), 2);
    EXPECT_EQ(fk::PagedCodeLocks(), 1);
    first.ReleaseInfo();
    EXPECT_EQ(fk::PagedCodeLocks(), 1);
    second.ReleaseInfo();
    EXPECT_EQ(fk::PortInfoUsers(), 0);
    EXPECT_EQ(fk::PagedCodeLocks(), 0);

    // What clients call at raised levels never lies in pageable code.
    for (const void* routine : {reinterpret_cast<const void*>(first.info().TryAllocatePort),
                                reinterpret_cast<const void*>(first.info().FreePort),
                                reinterpret_cast<const void*>(first.info().QueryNumWaiters),
                                reinterpret_cast<const void*>(PortTryAllocateAtIsr),
                                reinterpret_cast<const void*>(PortFreeAtIsr)})
        EXPECT_FALSE(fk::InPageableCode(routine));
    first.Close();
    second.Close();
}

// The lock of the pageable code follows the count's transitions even when clients race.
TEST_F(PortQueue, PortInformationGrantedAndReleasedByRacingClients)
{
    std::atomic<int> unlockedWhileHeld{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < 4; ++c)
        threads.emplace_back([&] {
            PortClient client(kPort);
            for (int round = 0; round < 300; ++round) {
                if (client.GetInfo() != fk::kSuccess) return;
                if (fk::PagedCodeLocks() != 1) ++unlockedWhileHeld;
                client.ReleaseInfo();
            }
            client.Close();
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(unlockedWhileHeld.load(), 0);
    EXPECT_EQ(fk::PortInfoUsers(), 0);
    EXPECT_EQ(fk::PagedCodeLocks(), 0);
}

TEST_F(PortQueue, MisuseByAClientLeavesTheCountsAlone)
{
    ExpectMisuse();
    PortClient client(kPort);
    EXPECT_EQ(client.ReleaseInfo(), fk::kSuccess);  // never obtained
    EXPECT_EQ(fk::PortInfoUsers(), 0);
    ASSERT_EQ(client.GetInfo(), fk::kSuccess);
    EXPECT_EQ(fk::PagedCodeLocks(), 1);
    ASSERT_EQ(client.ConnectInterrupt(IgnoreInterrupt, nullptr).status, fk::kSuccess);
    const int synchronised = fk::SynchronisedCalls(kPort);
    client.Free();  // the port is free: one look at the count, no deferred port checks
    EXPECT_EQ(Count(), -1);
    EXPECT_EQ(fk::SynchronisedCalls(kPort), synchronised + 1);
    EXPECT_EQ(client.DisconnectInterrupt(IgnoreInterrupt, nullptr), fk::kSuccess);
    EXPECT_EQ(client.Allocate().returned, fk::kSuccess);
    client.Free();
    EXPECT_EQ(Count(), -1);
    client.ReleaseInfo();
    EXPECT_EQ(fk::PagedCodeLocks(), 0);
    EXPECT_EQ(fk::ClientMisuse(), (std::vector<std::string>{"releasing port information that was never obtained",
                                                            "freeing a port that is free"}));
    client.Close();
}

// Four clients take turns on one port, by request and by routine; the harness checks that no two
// own it at once and that every request completes once.
TEST_F(PortQueue, FourClientsContendingForOnePort)
{
    constexpr int kClients = 4, kRounds = 150;
    std::atomic<int> owners{0}, overlaps{0}, rounds{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c)
        threads.emplace_back([&, c] {
            PortClient client(kPort);
            if (client.GetInfo() != fk::kSuccess) return;
            for (int round = 0; round < kRounds; ++round) {
                const bool byRoutine = (round + c) % 3 == 0;
                if (!byRoutine || !client.TryAllocate(fk::kDispatchLevel)) {
                    const fk::Sent sent = client.Allocate();
                    if (sent.returned != fk::kSuccess && fk::WaitForCompletion(sent.request).status != fk::kSuccess) return;
                }
                if (owners.fetch_add(1) != 0) ++overlaps;
                owners.fetch_sub(1);
                client.Free(round % 2 ? fk::kDispatchLevel : fk::kPassiveLevel);
                ++rounds;
            }
            client.ReleaseInfo();
            client.Close();
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(rounds.load(), kClients * kRounds);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(Count(), -1);
    EXPECT_EQ(fk::PortInfoUsers(), 0);
}

}  // namespace
