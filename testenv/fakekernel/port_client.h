// A client of one port device, as the system's parallel class driver is one: it opens the device,
// obtains the port information and takes and gives back the port, by request or through the
// routines handed out. For tests and benchmarks; uses the published kernel types.
#pragma once

#include <ntddk.h>
#include <parallel.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "parallel_records.h"

namespace fk {

class PortClient {
public:
    explicit PortClient(const std::wstring& device) : device_(device) { file_ = OpenFile(device, &created_); }
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    Status created() const { return created_; }

    Sent Allocate(bool cancelled = false)
    {
        return SendControl(file_, IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, {}, 0, cancelled);
    }
    Completion Call(uint32_t code, uint32_t outputLength, const std::vector<uint8_t>& input = {})
    {
        return WaitForCompletion(SendControl(file_, code, input, outputLength).request);
    }

    // Obtains the port information; the routines below use it.
    Status GetInfo()
    {
        const Completion done = Call(IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, sizeof info_);
        if (done.status == kSuccess && done.output.size() == sizeof info_)
            std::memcpy(&info_, done.output.data(), sizeof info_);
        return done.status;
    }
    Status ReleaseInfo() { return Call(IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, 0).status; }
    const PARALLEL_PORT_INFORMATION& info() const { return info_; }

    bool TryAllocate(uint8_t level = kPassiveLevel)
    {
        BOOLEAN taken = FALSE;
        RunAtLevel(level, reinterpret_cast<const void*>(info_.TryAllocatePort),
                   [&] { taken = info_.TryAllocatePort(info_.Context); });
        return taken != FALSE;
    }
    // A client may free only a port it owns; the harness notes any other free.
    void Free(uint8_t level = kPassiveLevel)
    {
        if (WorkQueueCount(device_) == -1) ReportMisuse("freeing a port that is free");
        RunAtLevel(level, reinterpret_cast<const void*>(info_.FreePort), [&] { info_.FreePort(info_.Context); });
    }
    ULONG Waiters(uint8_t level = kPassiveLevel)
    {
        ULONG waiters = 0;
        RunAtLevel(level, reinterpret_cast<const void*>(info_.QueryNumWaiters),
                   [&] { waiters = info_.QueryNumWaiters(info_.Context); });
        return waiters;
    }

    // Connects a client interrupt routine; the interrupt information is kept for the routines at
    // interrupt level.
    Completion ConnectInterrupt(PKSERVICE_ROUTINE routine, PVOID context,
                                PPARALLEL_DEFERRED_ROUTINE deferred = nullptr, PVOID deferredContext = nullptr)
    {
        const Completion done = Call(IOCTL_INTERNAL_PARALLEL_CONNECT_INTERRUPT, sizeof interrupt_,
                                     Routine(routine, context, deferred, deferredContext));
        if (done.status == kSuccess && done.output.size() == sizeof interrupt_)
            std::memcpy(&interrupt_, done.output.data(), sizeof interrupt_);
        return done;
    }
    Status DisconnectInterrupt(PKSERVICE_ROUTINE routine, PVOID context)
    {
        return Call(IOCTL_INTERNAL_PARALLEL_DISCONNECT_INTERRUPT, 0, Routine(routine, context, nullptr, nullptr)).status;
    }
    const PARALLEL_INTERRUPT_INFORMATION& interrupt() const { return interrupt_; }

    Status Cleanup() { return CleanupFile(file_); }
    Status Close() { return CloseFile(file_); }

private:
    static std::vector<uint8_t> Routine(PKSERVICE_ROUTINE routine, PVOID context, PPARALLEL_DEFERRED_ROUTINE deferred,
                                        PVOID deferredContext)
    {
        const PARALLEL_INTERRUPT_SERVICE_ROUTINE record = {routine, context, deferred, deferredContext};
        const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
        return std::vector<uint8_t>(bytes, bytes + sizeof record);
    }

    std::wstring device_;
    uint64_t file_ = 0;
    Status created_ = kPending;
    PARALLEL_PORT_INFORMATION info_ = {};
    PARALLEL_INTERRUPT_INFORMATION interrupt_ = {};
};

}  // namespace fk
