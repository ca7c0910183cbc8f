// Clients sharing a port's interrupt: connecting and disconnecting their routines, the one
// registration with the enumerator, the order in which an interrupt is offered, the deferred port
// checks, and what is left when connecting fails or the port goes away.
#include "ktpptnt.h"
#include "port_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace {

using fk::PortClient;

const std::wstring kPort = L"\\Device\\ParallelPort0";
constexpr fk::Status kInsufficientResources = 0xC000009A;

// A client's interrupt routine and deferred port check, counting their calls. Each has a context
// of its own, as a real client's may.
struct ClientRoutine {
    std::atomic<int> interrupts{0}, portChecks{0};
    bool claims = false;
};

BOOLEAN NTAPI ServiceInterrupt(PKINTERRUPT, PVOID context)
{
    auto* client = static_cast<ClientRoutine*>(context);
    ++client->interrupts;
    return client->claims;
}

VOID NTAPI CheckPort(PVOID context)
{
    ++*static_cast<std::atomic<int>*>(context);
}

class InterruptSharing : public drivertest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        enumerator_ = &Enumerator(L"QARIXBUS0", 2);
        enumerator_->ports[0].hasInterrupt = true;  // the second port has none
        Configure({L"QARIXBUS0"});
        ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    }
    static fk::Status Connect(PortClient& client, ClientRoutine& routine)
    {
        return client.ConnectInterrupt(ServiceInterrupt, &routine, CheckPort, &routine.portChecks).status;
    }
    static fk::Status Disconnect(PortClient& client, ClientRoutine& routine)
    {
        return client.DisconnectInterrupt(ServiceInterrupt, &routine);
    }
    static uint32_t Connections() { return fk::PortNamed(kPort).interruptRefCount; }

    fk::FakeEnumerator* enumerator_ = nullptr;
};

TEST_F(InterruptSharing, TwoClientsShareOneRegistrationAndTheFirstClaimEndsTheWalk)
{
    PortClient first(kPort), second(kPort);
    ClientRoutine one, two;
    const fk::Completion connected = first.ConnectInterrupt(ServiceInterrupt, &one);
    ASSERT_EQ(connected.status, fk::kSuccess);
    ASSERT_EQ(Connect(second, two), fk::kSuccess);
    EXPECT_EQ(enumerator_->interruptConnects, 1);
    EXPECT_EQ(Connections(), 2u);
    EXPECT_EQ(fk::PortNamed(kPort).isrEntries, 2u);
    EXPECT_EQ(connected.information, sizeof(PARALLEL_INTERRUPT_INFORMATION));
    for (PortClient* client : {&first, &second}) {
        const PARALLEL_INTERRUPT_INFORMATION& information = client->interrupt();
        EXPECT_NE(information.InterruptObject, nullptr);
        EXPECT_EQ(information.InterruptObject, first.interrupt().InterruptObject);
        EXPECT_EQ(information.TryAllocatePortAtInterruptLevel, PortTryAllocateAtIsr);
        EXPECT_EQ(information.FreePortFromInterruptLevel, PortFreeAtIsr);
        EXPECT_NE(information.Context, nullptr);
    }

    one.claims = true;
    EXPECT_EQ(fk::FireInterrupt(kPort), 1);
    EXPECT_EQ(one.interrupts, 1);
    EXPECT_EQ(two.interrupts, 0);  // claimed by the first: not offered to the second
    one.claims = false;
    EXPECT_EQ(fk::FireInterrupt(kPort), 0);
    EXPECT_EQ(two.interrupts, 1);

    EXPECT_EQ(Disconnect(first, one), fk::kSuccess);
    EXPECT_EQ(Connections(), 1u);
    EXPECT_EQ(enumerator_->interruptDisconnects, 0);
    two.claims = true;
    EXPECT_EQ(fk::FireInterrupt(kPort), 1);
    EXPECT_EQ(one.interrupts, 2);
    EXPECT_EQ(Disconnect(second, two), fk::kSuccess);
    EXPECT_EQ(enumerator_->interruptDisconnects, 1);
    EXPECT_EQ(fk::FireInterrupt(kPort), -1);  // nothing registered any more
    first.Close();
    second.Close();
}

TEST_F(InterruptSharing, ADisconnectMustNameAConnectedRoutineAndContext)
{
    PortClient client(kPort);
    ClientRoutine routine, other;
    EXPECT_EQ(Disconnect(client, routine), fk::kInvalidParameter);  // nothing connected
    ASSERT_EQ(Connect(client, routine), fk::kSuccess);
    EXPECT_EQ(Disconnect(client, other), fk::kInvalidParameter);  // same routine, other context
    EXPECT_EQ(Connections(), 1u);
    EXPECT_EQ(Disconnect(client, routine), fk::kSuccess);
    EXPECT_EQ(Connections(), 0u);
    client.Close();
}

TEST_F(InterruptSharing, APortWithoutInterruptIsAllocatedButRefusesConnections)
{
    PortClient client(L"\\Device\\ParallelPort1");
    ClientRoutine routine;
    EXPECT_EQ(Connect(client, routine), kInsufficientResources);
    EXPECT_EQ(Disconnect(client, routine), fk::kInvalidParameter);
    EXPECT_EQ(enumerator_->interruptConnects, 0);
    EXPECT_EQ(client.Allocate().returned, fk::kSuccess);
    ASSERT_EQ(client.GetInfo(), fk::kSuccess);
    client.Free();
    client.ReleaseInfo();
    client.Close();
}

TEST_F(InterruptSharing, AFailedConnectionLeavesNothingRegistered)
{
    PortClient client(kPort);
    ClientRoutine routine;
    enumerator_->refusesInterrupts = true;
    EXPECT_EQ(Connect(client, routine), fk::kUnsuccessful);
    EXPECT_EQ(Connections(), 0u);
    enumerator_->refusesInterrupts = false;

    fk::FailPoolAllocations(0);  // no memory for the list entry
    EXPECT_EQ(Connect(client, routine), kInsufficientResources);
    fk::FailPoolAllocations(-1);
    EXPECT_EQ(Connections(), 0u);
    EXPECT_EQ(enumerator_->interruptConnects, 1);
    EXPECT_EQ(enumerator_->interruptDisconnects, 1);  // the registration was given back
    EXPECT_TRUE(enumerator_->interruptsRegistered.empty());
    client.Close();
}

TEST_F(InterruptSharing, DeferredPortChecksRunWhenAFreedPortStaysFree)
{
    PortClient owner(kPort), waiter(kPort);
    ClientRoutine routine;
    ASSERT_EQ(Connect(owner, routine), fk::kSuccess);
    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);
    ASSERT_EQ(owner.Allocate().returned, fk::kSuccess);
    const fk::Sent waiting = waiter.Allocate();
    owner.Free();  // granted to the waiter: no checks
    EXPECT_EQ(fk::WaitForCompletion(waiting.request).status, fk::kSuccess);
    EXPECT_EQ(routine.portChecks, 0);
    owner.Free();  // now free
    EXPECT_EQ(routine.portChecks, 1);
    EXPECT_EQ(Disconnect(owner, routine), fk::kSuccess);
    owner.ReleaseInfo();
    owner.Close();
    waiter.Close();
}

// A port taken again between its free and the deferred check is not free: no check runs.
TEST_F(InterruptSharing, APortTakenBetweenTheFreeAndTheCheckIsNotReportedFree)
{
    PortClient owner(kPort), other(kPort);
    ClientRoutine routine;
    ASSERT_EQ(Connect(owner, routine), fk::kSuccess);
    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);
    ASSERT_EQ(other.GetInfo(), fk::kSuccess);
    ASSERT_EQ(owner.Allocate().returned, fk::kSuccess);
    bool taken = false;
    fk::BeforeSynchronisedCall(reinterpret_cast<const void*>(NotifyDeferredPortChecks),
                               [&] { taken = other.TryAllocate(); });
    owner.Free();
    EXPECT_TRUE(taken);
    EXPECT_EQ(routine.portChecks, 0);
    other.Free();
    EXPECT_EQ(routine.portChecks, 1);
    EXPECT_EQ(Disconnect(owner, routine), fk::kSuccess);
    for (PortClient* client : {&owner, &other}) {
        client->ReleaseInfo();
        client->Close();
    }
}

// A port that goes while clients are connected: their routines leave the list and the
// enumerator is told once that the shared routine is gone. A deferred free still queued goes
// with the port (the kernel would run it on a deleted device).
TEST_F(InterruptSharing, RemovalDisconnectsTheRoutinesOnceAndTakesAQueuedFreeAlong)
{
    PortClient owner(kPort), second(kPort), waiter(kPort);
    ClientRoutine one, two;
    ASSERT_EQ(Connect(owner, one), fk::kSuccess);
    ASSERT_EQ(Connect(second, two), fk::kSuccess);
    ASSERT_EQ(owner.GetInfo(), fk::kSuccess);
    ASSERT_EQ(owner.Allocate().returned, fk::kSuccess);
    const fk::Sent waiting = waiter.Allocate();
    fk::HoldDeferredCalls(true);
    const PARALLEL_INTERRUPT_INFORMATION& information = owner.interrupt();
    fk::SynchroniseWithInterrupt(kPort, [&] { information.FreePortFromInterruptLevel(information.Context); });
    waiter.Cleanup();  // its request is cancelled; the deferred free stays queued
    waiter.Close();
    owner.ReleaseInfo();
    owner.Close();
    second.Close();
    fk::UnloadDriver();  // the unload checks find no pool left and no queued call in a deleted device
    fk::HoldDeferredCalls(false);
    fk::WaitForDeferredCalls();
    EXPECT_EQ(enumerator_->interruptConnects, 1);
    EXPECT_EQ(enumerator_->interruptDisconnects, 1);
    EXPECT_TRUE(enumerator_->interruptsRegistered.empty());
    EXPECT_TRUE(fk::IsComplete(waiting.request));
}

// First connections and last disconnections racing on one port: the enumerator sees one
// registration per first connection (it reports a second one) and the last one unregisters.
TEST_F(InterruptSharing, RacingClientsRegisterOncePerFirstConnection)
{
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int c = 0; c < 4; ++c)
        threads.emplace_back([&] {
            PortClient client(kPort);
            ClientRoutine routine;
            for (int round = 0; round < 100; ++round)
                if (Connect(client, routine) != fk::kSuccess || Disconnect(client, routine) != fk::kSuccess) ++failures;
            client.Close();
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Connections(), 0u);
    EXPECT_EQ(enumerator_->interruptConnects, enumerator_->interruptDisconnects);
    EXPECT_TRUE(enumerator_->interruptsRegistered.empty());
}

}  // namespace
