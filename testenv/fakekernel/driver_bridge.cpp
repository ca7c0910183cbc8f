// The driver under test, as the tests see it: loading, unloading with the leak checks, its ports.
#include "kernel_state.h"
#include "ktpptnt.h"

namespace fk {

void ResetEnumerators();

namespace {

NTSTATUS NTAPI NotServed(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace

void Reset()
{
    Kernel& kernel = K();
    for (const auto& entry : kernel.namespace_)
        if (entry.second.enumerator) std::free(entry.second.device);
    for (PIRP irp : kernel.finishedIrps) std::free(irp);
    kernel.~Kernel();
    new (&kernel) Kernel();
    ResetRegistry();
    ResetEnumerators();
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
    return static_cast<Status>(status);
}

void UnloadDriver()
{
    Kernel& kernel = K();
    if (kernel.driverLoaded && kernel.driver.DriverUnload) kernel.driver.DriverUnload(&kernel.driver);
    kernel.driverLoaded = false;
    if (kernel.driver.DeviceObject) Fail("devices left after unload");
    if (!kernel.pool.empty()) Fail("pool leaked at unload");
    if (!kernel.fileObjects.empty()) Fail("file objects still referenced at unload");
    if (OpenRegistryHandles()) Fail("registry handles left open at unload");
    if (!kernel.liveIrps.empty()) Fail("requests neither completed nor freed at unload");
    if (kernel.cancelLockDepth) Fail("cancel spin lock held at unload");
}

std::vector<PortView> Ports()
{
    std::vector<PortView> ports;
    for (PDEVICE_OBJECT device = K().driver.DeviceObject; device; device = device->NextDevice) {
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
        ports.push_back(view);
    }
    return ports;
}

Status SendBusRequestTo(FakeEnumerator& enumerator, uint32_t code, std::vector<uint8_t> input,
                        std::vector<uint8_t>& output)
{
    for (const auto& entry : K().namespace_)
        if (entry.second.enumerator == &enumerator)
            return static_cast<Status>(SendBusRequest(entry.second.device, code, input.empty() ? nullptr : input.data(),
                                                      static_cast<ULONG>(input.size()),
                                                      output.empty() ? nullptr : output.data(),
                                                      static_cast<ULONG>(output.size())));
    return kObjectNameNotFound;
}

}  // namespace fk
