// Devices, requests, pool, configuration counts, error log and the string routines: the kernel calls
// the driver makes, answered in memory.
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "kernel_state.h"

#include <parallel.h>

namespace fk {

Kernel& K()
{
    static Kernel kernel;
    return kernel;
}

void Fail(const std::string& rule)
{
    Guard guard(Lock());
    K().failures.push_back(rule);
}

std::wstring Upper(const std::wstring& text)
{
    std::wstring upper = text;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    return upper;
}

std::wstring FromUnicodeString(PCUNICODE_STRING string)
{
    return string && string->Buffer ? std::wstring(string->Buffer, string->Length / sizeof(WCHAR)) : std::wstring();
}

void RegisterName(const std::wstring& name, PDEVICE_OBJECT device, FakeEnumerator* enumerator)
{
    Guard guard(Lock());
    K().namespace_[Upper(name)] = NamedObject{device, enumerator};
}

std::vector<std::string> VerifierFailures()
{
    Guard guard(Lock());
    return K().failures;
}

void SetParallelCount(unsigned count)
{
    K().configuration.ParallelCount = count;
}

unsigned ParallelCount()
{
    return K().configuration.ParallelCount;
}

void FailPoolAllocations(int afterSuccesses)
{
    K().poolSuccessesBeforeFailure = afterSuccesses;
}

void FailDeviceCreation(bool fail)
{
    K().failDeviceCreation = fail;
}

void FailErrorLogEntries(bool fail)
{
    K().failErrorLog = fail;
}

size_t PoolInUse()
{
    Guard guard(Lock());
    return K().pool.size();
}

std::vector<std::wstring> DeviceNames()
{
    Guard guard(Lock());
    std::vector<std::wstring> names;
    for (PDEVICE_OBJECT device = K().driver.DeviceObject; device; device = device->NextDevice)
        names.push_back(K().deviceNames[device]);
    return names;
}

std::vector<LogEntry> ErrorLog()
{
    Guard guard(Lock());
    return K().errorLog;
}

namespace {

constexpr UCHAR kGuardByte = 0x5A;  // bit 0 clear: marking pending sets it

// A request is followed by one stack location's worth of guard bytes: whatever writes beyond the
// last stack location (marking a request pending that one owns no location of) lands there.
PUCHAR GuardOf(PIRP irp)
{
    return reinterpret_cast<PUCHAR>(irp + 1) + irp->StackCount * sizeof(IO_STACK_LOCATION);
}

void CheckGuard(PIRP irp)
{
    const PUCHAR guard = GuardOf(irp);
    for (size_t i = 0; i < sizeof(IO_STACK_LOCATION); ++i)
        if (guard[i] != kGuardByte) {
            Fail("writing past the last stack location of a request");
            std::memset(guard, kGuardByte, sizeof(IO_STACK_LOCATION));
            return;
        }
}

}  // namespace

PIRP AllocateIrp(PDEVICE_OBJECT device)
{
    const CCHAR stackCount = device->StackSize;
    const size_t size = sizeof(IRP) + stackCount * sizeof(IO_STACK_LOCATION);
    auto* irp = static_cast<PIRP>(std::calloc(1, size + sizeof(IO_STACK_LOCATION)));
    std::memset(reinterpret_cast<PUCHAR>(irp) + size, kGuardByte, sizeof(IO_STACK_LOCATION));
    irp->Type = IO_TYPE_IRP;
    irp->Size = static_cast<USHORT>(size);
    irp->StackCount = stackCount;
    irp->CurrentLocation = static_cast<CHAR>(stackCount + 1);
    irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackCount;
    Guard guard(Lock());
    K().liveIrps.insert(irp);
    return irp;
}

}  // namespace fk

using fk::K;

// --- pool ---

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T size, ULONG tag)
{
    fk::Guard guard(fk::Lock());
    if (type == PagedPool && fk::CurrentLevel() >= DISPATCH_LEVEL) fk::Fail("paged pool allocated at DISPATCH_LEVEL");
    if (tag != 0x206B6444) fk::Fail("pool allocated with a tag other than \"Ddk \"");
    int& budget = K().poolSuccessesBeforeFailure;
    if (budget == 0) return nullptr;
    if (budget > 0) --budget;
    void* block = std::calloc(1, size ? size : 1);
    std::memset(block, 0xA5, size);  // pool is not zeroed
    K().pool[block] = fk::PoolBlock{size, tag, type};
    return block;
}

extern "C" VOID NTAPI ExFreePoolWithTag(PVOID block, ULONG tag)
{
    fk::Guard guard(fk::Lock());
    auto it = K().pool.find(block);
    if (it == K().pool.end()) {
        fk::Fail("freeing pool that is not allocated");
        return;
    }
    if (tag && tag != it->second.tag) fk::Fail("freeing pool with another tag than it was allocated with");
    K().pool.erase(it);
    std::free(block);
}

extern "C" VOID NTAPI ExFreePool(PVOID block)
{
    ExFreePoolWithTag(block, 0);
}

// --- devices and objects ---

extern "C" NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                                         DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                                         PDEVICE_OBJECT* device)
{
    fk::Guard guard(fk::Lock());
    if (K().failDeviceCreation) return STATUS_INSUFFICIENT_RESOURCES;
    const std::wstring text = fk::FromUnicodeString(name);
    if (!text.empty() && K().namespace_.count(fk::Upper(text))) return STATUS_OBJECT_NAME_COLLISION;
    auto* object = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT) + extensionSize + 16));
    object->Type = IO_TYPE_DEVICE;
    object->Size = sizeof(DEVICE_OBJECT);
    object->DriverObject = driver;
    object->DeviceType = type;
    object->Characteristics = characteristics;
    object->StackSize = 1;
    object->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
    object->DeviceExtension = extensionSize ? reinterpret_cast<PUCHAR>(object) + sizeof(DEVICE_OBJECT) + 16 : nullptr;
    object->NextDevice = driver->DeviceObject;
    driver->DeviceObject = object;
    K().deviceBytes[object] = sizeof(DEVICE_OBJECT) + extensionSize + 16;
    K().deviceNames[object] = text;
    if (!text.empty()) fk::RegisterName(text, object, nullptr);
    *device = object;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device)
{
    fk::Guard guard(fk::Lock());
    PDEVICE_OBJECT* link = &device->DriverObject->DeviceObject;
    while (*link && *link != device) link = &(*link)->NextDevice;
    if (!*link) {
        fk::Fail("deleting a device the driver does not have");
        return;
    }
    *link = device->NextDevice;
    const auto* first = reinterpret_cast<const char*>(device);
    for (PRKDPC dpc : K().queuedDpcs)
        if (reinterpret_cast<const char*>(dpc) >= first && reinterpret_cast<const char*>(dpc) < first + K().deviceBytes[device])
            fk::Fail("deleting a device whose deferred call is still queued");
    K().deviceBytes.erase(device);
    K().namespace_.erase(fk::Upper(K().deviceNames[device]));
    K().deviceNames.erase(device);
    std::free(device);
}

extern "C" NTSTATUS NTAPI IoGetDeviceObjectPointer(PUNICODE_STRING name, ACCESS_MASK, PFILE_OBJECT* file,
                                                   PDEVICE_OBJECT* device)
{
    fk::Guard guard(fk::Lock());
    auto it = K().namespace_.find(fk::Upper(fk::FromUnicodeString(name)));
    if (it == K().namespace_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto* object = static_cast<PFILE_OBJECT>(std::calloc(1, sizeof(FILE_OBJECT)));
    object->Type = IO_TYPE_FILE;
    object->DeviceObject = it->second.device;
    K().fileObjects[object] = 1;
    *file = object;
    *device = it->second.device;
    return STATUS_SUCCESS;
}

extern "C" LONG_PTR FASTCALL ObfDereferenceObject(PVOID object)
{
    fk::Guard guard(fk::Lock());
    auto it = K().fileObjects.find(static_cast<PFILE_OBJECT>(object));
    if (it == K().fileObjects.end()) {
        fk::Fail("dereferencing an object without references");
        return 0;
    }
    const int left = --it->second;
    if (left == 0) {
        std::free(object);
        K().fileObjects.erase(it);
    }
    return left;
}

extern "C" PCONFIGURATION_INFORMATION NTAPI IoGetConfigurationInformation(VOID)
{
    return &K().configuration;
}

// --- requests ---

extern "C" PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID input, ULONG inputLength,
                                                    PVOID output, ULONG outputLength, BOOLEAN internal,
                                                    PRKEVENT event, PIO_STATUS_BLOCK ioStatus)
{
    PIRP irp = fk::AllocateIrp(device);
    irp->UserIosb = ioStatus;
    irp->UserEvent = event;
    irp->UserBuffer = output;
    if (METHOD_FROM_CTL_CODE(code) == METHOD_BUFFERED) {
        const ULONG length = inputLength > outputLength ? inputLength : outputLength;
        irp->AssociatedIrp.SystemBuffer = length ? std::calloc(1, length) : nullptr;
        if (input && inputLength) std::memcpy(irp->AssociatedIrp.SystemBuffer, input, inputLength);
        irp->Flags = IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER | (outputLength ? IRP_INPUT_OPERATION : 0);
        fk::Guard guard(fk::Lock());
        K().outputLengths[irp] = outputLength;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inputLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    return irp;
}

extern "C" NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
    if (!fk::IsLive(irp)) {
        fk::Fail("sending a request that has been completed");
        return STATUS_INVALID_PARAMETER;
    }
    if (irp->CurrentLocation <= 1) {
        fk::Fail("sending a request without a free stack location");
        return STATUS_INVALID_PARAMETER;
    }
    --irp->CurrentLocation;
    --irp->Tail.Overlay.CurrentStackLocation;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    stack->DeviceObject = device;
    return device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
}

namespace fk {

bool IsLive(PIRP irp)
{
    Guard guard(Lock());
    return K().liveIrps.count(irp) != 0;
}

namespace {

// Checks a completion before the stack locations unwind; false if the request may not complete.
bool MayComplete(PIRP irp)
{
    Guard guard(Lock());
    if (K().finishedIrps.count(irp)) {
        Fail("completing a request twice");
        return false;
    }
    if (!K().liveIrps.count(irp)) {
        Fail("completing a request that does not exist");
        return false;
    }
    if (irp->CancelRoutine) Fail("completing a request whose cancel routine is still set");
    if (irp->IoStatus.Status == STATUS_PENDING) Fail("completing a request with STATUS_PENDING");
    return true;
}

// The request is done for good. Two completions that ran at once are noticed here.
bool Finish(PIRP irp)
{
    Guard guard(Lock());
    if (!K().finishedIrps.insert(irp).second) {
        Fail("completing a request twice");
        return false;
    }
    K().liveIrps.erase(irp);
    return true;
}

// A client's request: what it learns of the completion.
void RecordClientCompletion(PIRP irp, CCHAR boost)
{
    Guard guard(Lock());
    auto it = K().clientRequests.find(irp);
    if (it == K().clientRequests.end()) return;
    ClientRequest& request = *it->second;
    request.completed = true;
    request.completion.status = static_cast<Status>(irp->IoStatus.Status);
    request.completion.information = irp->IoStatus.Information;
    request.completion.boost = boost;
    request.completion.order = ++K().completionOrder;
    const auto* buffer = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    if (buffer) request.completion.output.assign(buffer, buffer + request.outputLength);
    if (request.code == IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO && irp->IoStatus.Status == STATUS_SUCCESS)
        ++K().portInfoGrants;
}

}  // namespace
}  // namespace fk

extern "C" VOID FASTCALL IofCompleteRequest(PIRP irp, CCHAR boost)
{
    fk::CheckCaller(__builtin_return_address(0), "IoCompleteRequest");
    if (!fk::MayComplete(irp)) return;

    // Unwind the stack locations above the current one, calling their completion routines.
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        ++irp->CurrentLocation;
        ++irp->Tail.Overlay.CurrentStackLocation;
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke = stack->CompletionRoutine &&
                            ((NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                             (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                             (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT upper = irp->CurrentLocation <= irp->StackCount
                                       ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                       : nullptr;
            fk::CheckResident(reinterpret_cast<const void*>(stack->CompletionRoutine), "a completion routine");
            const NTSTATUS result = stack->CompletionRoutine(upper, irp, stack->Context);
            fk::CheckGuard(irp);
            // The sender keeps the request and completes it again once it is done with it.
            if (result == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            IoMarkIrpPending(irp);
        }
    }

    // The I/O manager's part. Buffered output goes back to the sender's buffer unless the status
    // is an error: for warnings too, whatever the sender makes of the status.
    fk::CheckGuard(irp);
    if (!fk::Finish(irp)) return;
    fk::RecordClientCompletion(irp, boost);
    {
        fk::Guard guard(fk::Lock());
        const ULONG room = K().outputLengths[irp];
        K().outputLengths.erase(irp);
        if ((irp->Flags & IRP_BUFFERED_IO) && (irp->Flags & IRP_INPUT_OPERATION) && irp->UserBuffer &&
            irp->AssociatedIrp.SystemBuffer && !NT_ERROR(irp->IoStatus.Status)) {
            if (irp->IoStatus.Information > room) fk::Fail("a request completed with more output than its buffer holds");
            std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer,
                        irp->IoStatus.Information < room ? irp->IoStatus.Information : room);
        }
    }
    if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
    if (irp->UserEvent) KeSetEvent(irp->UserEvent, IO_NO_INCREMENT, FALSE);
    if ((irp->Flags & IRP_DEALLOCATE_BUFFER) && irp->AssociatedIrp.SystemBuffer)
        std::free(irp->AssociatedIrp.SystemBuffer);
    irp->AssociatedIrp.SystemBuffer = nullptr;
}

// As the system cancels a request: under the cancel spin lock, its cancel routine releases it.
extern "C" BOOLEAN NTAPI IoCancelIrp(PIRP irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    irp->Cancel = TRUE;
    const PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    fk::CheckResident(reinterpret_cast<const void*>(routine), "a cancel routine");
    routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
    return TRUE;
}

// --- error log ---

extern "C" PVOID NTAPI IoAllocateErrorLogEntry(PVOID ioObject, UCHAR size)
{
    if (K().failErrorLog) return nullptr;
    auto* entry = static_cast<PUCHAR>(std::calloc(1, size + sizeof(PVOID)));
    *reinterpret_cast<PVOID*>(entry) = ioObject;  // remembered before the packet
    std::memset(entry + sizeof(PVOID), 0, size);
    return entry + sizeof(PVOID);
}

extern "C" VOID NTAPI IoWriteErrorLogEntry(PVOID entry)
{
    auto* packet = static_cast<PIO_ERROR_LOG_PACKET>(entry);
    PUCHAR block = static_cast<PUCHAR>(entry) - sizeof(PVOID);
    auto* source = *reinterpret_cast<PDEVICE_OBJECT*>(block);
    fk::LogEntry logged;
    logged.packet.assign(static_cast<PUCHAR>(entry), static_cast<PUCHAR>(entry) + sizeof(IO_ERROR_LOG_PACKET));
    auto name = K().deviceNames.find(source);
    logged.sourceDevice = name != K().deviceNames.end() ? name->second : L"<driver>";
    logged.errorCode = static_cast<uint32_t>(packet->ErrorCode);
    logged.uniqueErrorValue = packet->UniqueErrorValue;
    logged.finalStatus = static_cast<uint32_t>(packet->FinalStatus);
    logged.sequenceNumber = packet->SequenceNumber;
    logged.majorFunction = packet->MajorFunctionCode;
    logged.retryCount = packet->RetryCount;
    K().errorLog.push_back(logged);
    std::free(block);
}

// --- strings ---

extern "C" NTSTATUS NTAPI RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string)
{
    if (base != 10) return STATUS_INVALID_PARAMETER;
    char digits[16];
    const int count = std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(value));
    if (count * sizeof(WCHAR) > string->MaximumLength) return STATUS_BUFFER_OVERFLOW;
    for (int i = 0; i < count; ++i) string->Buffer[i] = static_cast<WCHAR>(digits[i]);
    string->Length = static_cast<USHORT>(count * sizeof(WCHAR));
    if (string->Length + sizeof(WCHAR) <= string->MaximumLength) string->Buffer[count] = 0;
    return STATUS_SUCCESS;
}

namespace {

NTSTATUS Append(PUNICODE_STRING destination, PCWSTR text, USHORT bytes)
{
    if (destination->Length + bytes > destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(reinterpret_cast<PUCHAR>(destination->Buffer) + destination->Length, text, bytes);
    destination->Length = static_cast<USHORT>(destination->Length + bytes);
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength)
        destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source)
{
    USHORT bytes = 0;
    while (source && source[bytes / sizeof(WCHAR)]) bytes = static_cast<USHORT>(bytes + sizeof(WCHAR));
    return Append(destination, source, bytes);
}

extern "C" NTSTATUS NTAPI RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    return Append(destination, source->Buffer, source->Length);
}
