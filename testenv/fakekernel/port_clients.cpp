// Clients of the driver's port devices: file objects, and requests sent to the driver from any
// thread as the I/O manager would send them, with the checks of what the dispatch routine returns.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "kernel_state.h"

#include <parallel.h>

namespace fk {
namespace {

std::string Hex(NTSTATUS status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

PDEVICE_OBJECT DriverDevice(const std::wstring& name)
{
    Guard guard(Lock());
    auto it = K().namespace_.find(Upper(name));
    return it != K().namespace_.end() && !it->second.enumerator ? it->second.device : nullptr;
}

PFILE_OBJECT FileOf(uint64_t file)
{
    Guard guard(Lock());
    auto it = K().clientFiles.find(file);
    return it != K().clientFiles.end() ? it->second : nullptr;
}

std::shared_ptr<ClientRequest> RequestOf(uint64_t request)
{
    Guard guard(Lock());
    auto it = K().requestsById.find(request);
    return it != K().requestsById.end() ? it->second : nullptr;
}

// Port information is a grant that the client gives back; the harness counts the grants (when
// they complete) and the releases.
void CheckRelease(uint32_t code)
{
    Guard guard(Lock());
    if (code != IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO) return;
    if (K().portInfoGrants == 0)
        K().misuse.push_back("releasing port information that was never obtained");
    else
        --K().portInfoGrants;
}

// What the dispatch routine may return: STATUS_PENDING only for a request it marked pending, any
// other status only for a request it has completed with that status.
void CheckReturned(ClientRequest& request, NTSTATUS returned)
{
    Guard guard(Lock());
    request.returned = static_cast<Status>(returned);
    const auto* stack = reinterpret_cast<const IO_STACK_LOCATION*>(request.irp + 1);
    const bool marked = (stack->Control & SL_PENDING_RETURNED) != 0;
    if (returned == STATUS_PENDING) {
        if (!marked) Fail("returning STATUS_PENDING for a request not marked pending");
        return;
    }
    if (marked) Fail("marking a request pending and returning " + Hex(returned));
    if (!request.completed)
        Fail("returning " + Hex(returned) + " for a request that is not completed");
    else if (request.completion.status != static_cast<Status>(returned))
        Fail("returning " + Hex(returned) + " for a request completed with " + Hex(request.completion.status));
}

std::shared_ptr<ClientRequest> Send(PFILE_OBJECT file, UCHAR major, ULONG code, const std::vector<uint8_t>& input,
                                    ULONG outputLength, bool cancelled = false)
{
    PIRP irp = AllocateIrp(file->DeviceObject);
    irp->RequestorMode = KernelMode;
    irp->Cancel = cancelled;
    const auto inputLength = static_cast<ULONG>(input.size());
    if (major == IRP_MJ_INTERNAL_DEVICE_CONTROL) {
        const ULONG length = inputLength > outputLength ? inputLength : outputLength;
        irp->AssociatedIrp.SystemBuffer = length ? std::calloc(1, length) : nullptr;
        if (inputLength) std::memcpy(irp->AssociatedIrp.SystemBuffer, input.data(), inputLength);
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->FileObject = file;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputLength;

    auto request = std::make_shared<ClientRequest>();
    request->irp = irp;
    request->code = major == IRP_MJ_INTERNAL_DEVICE_CONTROL ? code : 0;
    request->outputLength = outputLength;
    {
        Guard guard(Lock());
        request->id = K().nextId++;
        K().clientRequests[irp] = request;
        K().requestsById[request->id] = request;
    }
    CheckRelease(request->code);
    CheckReturned(*request, IofCallDriver(file->DeviceObject, irp));
    return request;
}

Status SendAndWait(uint64_t file, UCHAR major)
{
    PFILE_OBJECT object = FileOf(file);
    if (!object) {
        Fail("a request on a file that is not open");
        return kInvalidParameter;
    }
    return WaitForCompletion(Send(object, major, 0, {}, 0)->id).status;
}

}  // namespace

uint64_t OpenFile(const std::wstring& deviceName, Status* created)
{
    PDEVICE_OBJECT device = DriverDevice(deviceName);
    if (!device) {
        *created = kObjectNameNotFound;
        return 0;
    }
    auto* file = static_cast<PFILE_OBJECT>(std::calloc(1, sizeof(FILE_OBJECT)));
    file->Type = IO_TYPE_FILE;
    file->DeviceObject = device;
    uint64_t id;
    {
        Guard guard(Lock());
        id = K().nextId++;
        K().clientFiles[id] = file;
    }
    *created = SendAndWait(id, IRP_MJ_CREATE);
    return id;
}

Status CleanupFile(uint64_t file)
{
    return SendAndWait(file, IRP_MJ_CLEANUP);
}

Status CloseFile(uint64_t file)
{
    const Status status = SendAndWait(file, IRP_MJ_CLOSE);
    Guard guard(Lock());
    auto it = K().clientFiles.find(file);
    if (it != K().clientFiles.end()) {
        std::free(it->second);
        K().clientFiles.erase(it);
    }
    return status;
}

Sent SendControl(uint64_t file, uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                 bool cancelled)
{
    PFILE_OBJECT object = FileOf(file);
    if (!object) {
        Fail("a request on a file that is not open");
        return Sent{0, kInvalidParameter};
    }
    const auto request = Send(object, IRP_MJ_INTERNAL_DEVICE_CONTROL, code, input, outputLength, cancelled);
    return Sent{request->id, request->returned};
}

bool IsComplete(uint64_t request)
{
    Guard guard(Lock());
    auto it = K().requestsById.find(request);
    return it != K().requestsById.end() && it->second->completed;
}

Completion WaitForCompletion(uint64_t id, int timeoutMs)
{
    const auto request = RequestOf(id);
    if (!request) {
        Fail("waiting for a request that was never sent");
        return Completion{};
    }
    Hold lock(Lock());
    if (!WaitFor(lock, std::chrono::milliseconds(timeoutMs), [&] { return request->completed; })) {
        Fail("request " + std::to_string(id) + " not completed within " + std::to_string(timeoutMs) + " ms");
        return Completion{};
    }
    return request->completion;
}

bool CancelRequest(uint64_t id)
{
    const auto request = RequestOf(id);
    return request && IoCancelIrp(request->irp);
}

void ReportMisuse(const std::string& what)
{
    Guard guard(Lock());
    K().misuse.push_back(what);
}

std::vector<std::string> ClientMisuse()
{
    Guard guard(Lock());
    return K().misuse;
}

}  // namespace fk
