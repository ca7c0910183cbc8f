// The driver under test, as the tests see it: loading, unloading with the leak checks, its ports.
#include "kernel_state.h"
#include "ktpptnt.h"

namespace fk {
namespace {

NTSTATUS NTAPI NotServed(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

PortDeviceExtension* ExtensionNamed(const std::wstring& deviceName)
{
    Guard guard(Lock());
    for (PDEVICE_OBJECT device = K().driver.DeviceObject; device; device = device->NextDevice)
        if (Upper(K().deviceNames[device]) == Upper(deviceName))
            return static_cast<PortDeviceExtension*>(device->DeviceExtension);
    Fail("no port device named " + std::string(deviceName.begin(), deviceName.end()));
    return nullptr;
}

PortView ViewOf(PDEVICE_OBJECT device)
{
    const auto* extension = static_cast<const PortDeviceExtension*>(device->DeviceExtension);
    PortView view;
    view.deviceName = K().deviceNames[device];
    view.portHandle = extension->PortHandle;
    view.state = extension->State;
    view.resourcesValid = extension->Enumerator.ResourcesValid != 0;
    view.interfaceHeld = extension->Enumerator.Interface != nullptr;
    view.originalController = static_cast<uint64_t>(extension->PortInformation.OriginalController.QuadPart);
    view.controller = reinterpret_cast<uintptr_t>(extension->PortInformation.Controller);
    view.span = extension->PortInformation.SpanOfController;
    view.workQueueCount = extension->WorkQueueCount;
    view.interruptRefCount = extension->InterruptRefCount;
    view.hasInterrupt = extension->Enumerator.Resources.InterruptObject != nullptr;
    view.isrEntries = 0;  // counted by PortNamed, inside the interrupt's lock
    return view;
}

struct QueueLook {
    const PortDeviceExtension* port;
    LONG count;
    ULONG length;
};

BOOLEAN NTAPI LookAtQueue(PVOID context)
{
    auto* look = static_cast<QueueLook*>(context);
    look->count = look->port->WorkQueueCount;
    look->length = 0;
    for (PLIST_ENTRY link = look->port->WorkQueue.Flink; link != &look->port->WorkQueue; link = link->Flink)
        ++look->length;
    return TRUE;
}

BOOLEAN NTAPI CountIsrEntries(PVOID context)
{
    auto* view = static_cast<std::pair<const PortDeviceExtension*, size_t>*>(context);
    const LIST_ENTRY& list = view->first->IsrList;
    for (const LIST_ENTRY* link = list.Flink; link != &list; link = link->Flink) ++view->second;
    return TRUE;
}

BOOLEAN NTAPI RunWork(PVOID context)
{
    (*static_cast<const std::function<void()>*>(context))();
    return TRUE;
}

}  // namespace

void Reset()
{
    StopKernelThreads();
    if (CancelLock().Held()) CancelLock().Release();
    Guard guard(Lock());
    Kernel& kernel = K();
    for (const auto& entry : kernel.namespace_)
        if (entry.second.enumerator) std::free(entry.second.device);
    for (const auto& entry : kernel.clientFiles) std::free(entry.second);
    for (PIRP irp : kernel.liveIrps) {
        if (irp->Flags & IRP_DEALLOCATE_BUFFER) std::free(irp->AssociatedIrp.SystemBuffer);
        std::free(irp);
    }
    for (PIRP irp : kernel.finishedIrps) std::free(irp);
    kernel.~Kernel();
    new (&kernel) Kernel();
    ResetRegistry();
    ResetEnumerators();
    ::PortInfoUsers = 0;
}

Status LoadDriver()
{
    Kernel& kernel = K();
    kernel.driver = DRIVER_OBJECT{};
    kernel.driver.Type = IO_TYPE_DRIVER;
    for (auto& routine : kernel.driver.MajorFunction) routine = NotServed;
    UNICODE_STRING registryPath = {};
    const NTSTATUS status = DriverEntry(&kernel.driver, &registryPath);
    kernel.driverLoaded = NT_SUCCESS(status);
    kernel.driverEntryDone = true;
    return static_cast<Status>(status);
}

// The unload routine once the deferred calls are done, then what a verifier checks after an
// unload; also after a load that failed.
void UnloadDriver()
{
    WaitForDeferredCalls();
    Kernel& kernel = K();
    if (kernel.driverLoaded && kernel.driver.DriverUnload) kernel.driver.DriverUnload(&kernel.driver);
    kernel.driverLoaded = false;
    Guard guard(Lock());
    if (kernel.driver.DeviceObject) Fail("devices left after unload");
    if (!kernel.pool.empty()) Fail("pool leaked at unload");
    if (!kernel.fileObjects.empty()) Fail("file objects still referenced at unload");
    if (!kernel.clientFiles.empty()) Fail("client files still open at unload");
    if (OpenRegistryHandles()) Fail("registry handles left open at unload");
    if (!kernel.liveIrps.empty()) Fail("requests neither completed nor freed at unload");
    if (CancelLock().Held()) Fail("cancel spin lock held at unload");
    if (PagedCodeLocks()) Fail("pageable code still locked at unload");
}

std::vector<PortView> Ports()
{
    Guard guard(Lock());
    std::vector<PortView> ports;
    for (PDEVICE_OBJECT device = K().driver.DeviceObject; device; device = device->NextDevice)
        ports.push_back(ViewOf(device));
    return ports;
}

PortView PortNamed(const std::wstring& deviceName)
{
    PortDeviceExtension* extension = ExtensionNamed(deviceName);
    if (!extension) return PortView{};
    PortView view;
    {
        Guard guard(Lock());
        view = ViewOf(extension->DeviceObject);
    }
    // The list changes inside the interrupt's lock; it is only read there.
    std::pair<const PortDeviceExtension*, size_t> entries(extension, 0);
    if (PKINTERRUPT interrupt = extension->Enumerator.Resources.InterruptObject)
        KeSynchronizeExecution(interrupt, CountIsrEntries, &entries);
    view.isrEntries = entries.second;
    return view;
}

int32_t WorkQueueCount(const std::wstring& deviceName)
{
    PortDeviceExtension* extension = ExtensionNamed(deviceName);
    return extension ? extension->WorkQueueCount : 0;
}

int32_t PortInfoUsers()
{
    return ::PortInfoUsers;
}

int SynchronisedCalls(const std::wstring& deviceName)
{
    PortDeviceExtension* extension = ExtensionNamed(deviceName);
    Guard guard(Lock());
    if (!extension) return 0;
    auto* interrupt = reinterpret_cast<FakeInterrupt*>(extension->Enumerator.Resources.InterruptObject);
    return interrupt ? interrupt->synchronisedCalls : 0;
}

void SynchroniseWithInterrupt(const std::wstring& deviceName, const std::function<void()>& work)
{
    PortDeviceExtension* extension = ExtensionNamed(deviceName);
    if (extension) KeSynchronizeExecution(extension->Enumerator.Resources.InterruptObject, RunWork,
                                          const_cast<std::function<void()>*>(&work));
}

Status SendBusRequestTo(FakeEnumerator& enumerator, uint32_t code, std::vector<uint8_t> input,
                        std::vector<uint8_t>& output)
{
    PDEVICE_OBJECT device = nullptr;
    {
        Guard guard(Lock());
        for (const auto& entry : K().namespace_)
            if (entry.second.enumerator == &enumerator) device = entry.second.device;
    }
    if (!device) return kObjectNameNotFound;
    return static_cast<Status>(SendBusRequest(device, code, input.empty() ? nullptr : input.data(),
                                              static_cast<ULONG>(input.size()),
                                              output.empty() ? nullptr : output.data(),
                                              static_cast<ULONG>(output.size())));
}

int FireInterrupt(const std::wstring& deviceName)
{
    PortDeviceExtension* extension = ExtensionNamed(deviceName);
    return extension && extension->Enumerator.Interface ? FireInterrupt(extension->Enumerator.Interface) : -1;
}

std::string CheckWorkQueue(const std::wstring& deviceName)
{
    PortDeviceExtension* extension = ExtensionNamed(deviceName);
    if (!extension) return "no such port";
    QueueLook look = {extension, 0, 0};
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (extension->InterruptRefCount)
        KeSynchronizeExecution(extension->Enumerator.Resources.InterruptObject, LookAtQueue, &look);
    else
        LookAtQueue(&look);
    IoReleaseCancelSpinLock(irql);
    const bool agree = look.count == -1 ? look.length == 0 : look.count >= 0 && look.length == ULONG(look.count);
    return agree ? std::string() : "count " + std::to_string(look.count) + " with " + std::to_string(look.length) + " queued";
}

void CheckIsrListPool(const void* portExtension)
{
    const auto* port = static_cast<const PortDeviceExtension*>(portExtension);
    Guard guard(Lock());
    int bounded = 0;
    for (const LIST_ENTRY* link = port->IsrList.Flink; link != &port->IsrList && bounded < 1000;
         link = link->Flink, ++bounded) {
        const auto block = K().pool.find(const_cast<void*>(static_cast<const void*>(CONTAINING_RECORD(link, IsrListEntry, Link))));
        if (block != K().pool.end() && block->second.type != NonPagedPool)
            Fail("an interrupt routine's list entry is not in nonpaged pool");
    }
}

std::function<SharedState()> WatchPort(void* portExtension)
{
    auto* port = static_cast<const PortDeviceExtension*>(portExtension);
    return [port] {
        SharedState state;
        uint64_t fingerprint = 1469598103934665603ull;
        int bounded = 0;
        for (const LIST_ENTRY* link = port->IsrList.Flink; link != &port->IsrList && bounded < 1000;
             link = link->Flink, ++bounded)
            fingerprint = (fingerprint ^ reinterpret_cast<uintptr_t>(link)) * 1099511628211ull;
        state.isrList = fingerprint;
        state.workQueueCount = port->WorkQueueCount;
        state.connections = port->InterruptRefCount;
        return state;
    };
}

}  // namespace fk
