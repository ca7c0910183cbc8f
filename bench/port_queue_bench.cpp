// Times the arbitration of one port in the driver harness: an allocate and free round trip without
// contention, by request (allocate request, free routine) and by routine (try-allocate and free
// routines), and the throughput of four threads contending for one port by request.
#include "port_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

const wchar_t kPort[] = L"\\Device\\ParallelPort0";

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool LoadWithOnePort()
{
    fk::Reset();
    fk::FakeEnumerator& enumerator = fk::AddEnumerator(L"QARIXBUS0");
    fk::FakePort port;
    port.handle = 0x100;
    port.keyPath = L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS\\0000\\0000";
    fk::CreateKey(port.keyPath);
    enumerator.ports.push_back(port);
    fk::SetMultiString(L"\\Registry\\Machine\\SOFTWARE\\Tervane\\Qarix", L"Enumerators", {L"QARIXBUS0"});
    return fk::LoadDriver() == fk::kSuccess;
}

// Microseconds per round trip, the fastest of five batches.
template <typename RoundTrip>
double MicrosecondsPerRoundTrip(int rounds, RoundTrip roundTrip)
{
    double best = 1e9;
    for (int batch = 0; batch < 5; ++batch) {
        const double start = Seconds();
        for (int i = 0; i < rounds; ++i) roundTrip();
        best = std::min(best, (Seconds() - start) * 1e6 / rounds);
    }
    return best;
}

// Rounds per second of `clients` threads that each take and free the port rounds times by request;
// waits counts the requests that had to queue.
double ContendedRoundsPerSecond(int clients, int rounds, int& waits)
{
    std::atomic<int> queued{0};
    std::vector<std::thread> threads;
    const double start = Seconds();
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            fk::PortClient client(kPort);
            client.GetInfo();
            for (int i = 0; i < rounds; ++i) {
                const fk::Sent sent = client.Allocate();
                if (sent.returned == fk::kPending) {
                    ++queued;
                    fk::WaitForCompletion(sent.request);
                }
                client.info().FreePort(client.info().Context);
            }
            client.ReleaseInfo();
            client.Close();
        });
    for (std::thread& thread : threads) thread.join();
    waits = queued;
    return clients * rounds / (Seconds() - start);
}

}  // namespace

int main()
{
    if (!LoadWithOnePort()) {
        std::printf("the driver did not load\n");
        return 1;
    }
    fk::PortClient client(kPort);
    client.GetInfo();
    // The routines are called directly, without the harness's checks of the client.
    const PARALLEL_PORT_INFORMATION& info = client.info();
    const double byRequest = MicrosecondsPerRoundTrip(20000, [&] {
        client.Allocate();
        info.FreePort(info.Context);
    });
    const double byRoutine = MicrosecondsPerRoundTrip(20000, [&] {
        info.TryAllocatePort(info.Context);
        info.FreePort(info.Context);
    });
    client.ReleaseInfo();
    client.Close();
    int waits = 0;
    const int clients = 4, rounds = 5000;
    const double contended = ContendedRoundsPerSecond(clients, rounds, waits);
    fk::UnloadDriver();

    std::printf("uncontended round trip, allocate request + free routine: %.2f us\n", byRequest);
    std::printf("uncontended round trip, try-allocate + free routines:    %.2f us\n", byRoutine);
    std::printf("%d threads contending, by request: %.0f rounds/s (%d of %d requests queued)\n", clients,
                contended, waits, clients * rounds);
    const std::vector<std::string> failures = fk::VerifierFailures();
    for (const std::string& failure : failures) std::printf("verifier: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}
