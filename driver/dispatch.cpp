// Requests of the port's clients: opening and closing, cleanup, and the published internal control
// requests of a parallel port.
#include "ktpptnt.h"

LONG PortInfoUsers = 0;

namespace {

// Serialises PortInfoUsers with the locking and unlocking of the pageable code, so that the
// image is locked exactly while the count is above zero.
FAST_MUTEX PortInfoLock;
PVOID PagedCodeHandle = nullptr;

using ControlHandler = NTSTATUS (*)(PortDeviceExtension* port, PIRP irp);

struct ControlEntry {
    ULONG Code;
    ULONG MinimumInput;
    ULONG MinimumOutput;
    ControlHandler Handler;
};

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

PortDeviceExtension* PortOf(PDEVICE_OBJECT device)
{
    return static_cast<PortDeviceExtension*>(device->DeviceExtension);
}

KT_PAGED NTSTATUS GetPortInformation(PortDeviceExtension* port, PIRP irp)
{
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &port->PortInformation, sizeof(PARALLEL_PORT_INFORMATION));
    irp->IoStatus.Information = sizeof(PARALLEL_PORT_INFORMATION);
    ExAcquireFastMutex(&PortInfoLock);
    if (++PortInfoUsers == 1) PagedCodeHandle = MmLockPagableCodeSection(reinterpret_cast<PVOID>(GetPortInformation));
    ExReleaseFastMutex(&PortInfoLock);
    return STATUS_SUCCESS;
}

// A release without a grant changes nothing: the count never passes below zero.
KT_PAGED NTSTATUS ReleasePortInformation(PortDeviceExtension*, PIRP)
{
    ExAcquireFastMutex(&PortInfoLock);
    if (PortInfoUsers > 0 && --PortInfoUsers == 0) {
        MmUnlockPagableImageSection(PagedCodeHandle);
        PagedCodeHandle = nullptr;
    }
    ExReleaseFastMutex(&PortInfoLock);
    return STATUS_SUCCESS;
}

NTSTATUS GetMorePortInformation(PortDeviceExtension* port, PIRP irp)
{
    if (!port->Enumerator.ResourcesValid) return STATUS_INVALID_PARAMETER;
    const PortResources& resources = port->Enumerator.Resources;
    auto* more = static_cast<PMORE_PARALLEL_PORT_INFORMATION>(irp->AssociatedIrp.SystemBuffer);
    more->InterfaceType = static_cast<INTERFACE_TYPE>(resources.InterfaceType);
    more->BusNumber = resources.BusNumber;
    more->InterruptLevel = resources.InterruptLevel;
    more->InterruptVector = resources.InterruptVector;
    more->InterruptAffinity = resources.InterruptAffinity;
    more->InterruptMode = static_cast<KINTERRUPT_MODE>(resources.InterruptMode);
    irp->IoStatus.Information = sizeof(MORE_PARALLEL_PORT_INFORMATION);
    return STATUS_SUCCESS;
}

// Searched in this order. The minimum lengths are the sizes of the records as this build lays them
// out, so a copy into the system buffer never overruns it.
const ControlEntry kControls[] = {
    {IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, 0, 0, AllocatePort},
    {IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, 0, sizeof(PARALLEL_PORT_INFORMATION), GetPortInformation},
    {IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, 0, 0, ReleasePortInformation},
    {IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO, 0, sizeof(MORE_PARALLEL_PORT_INFORMATION), GetMorePortInformation},
    {IOCTL_INTERNAL_PARALLEL_CONNECT_INTERRUPT, sizeof(PARALLEL_INTERRUPT_SERVICE_ROUTINE),
     sizeof(PARALLEL_INTERRUPT_INFORMATION), ConnectClientInterrupt},
    {IOCTL_INTERNAL_PARALLEL_DISCONNECT_INTERRUPT, sizeof(PARALLEL_INTERRUPT_SERVICE_ROUTINE), 0,
     DisconnectClientInterrupt},
};

}  // namespace

KT_INIT void InitializePortInformation()
{
    ExInitializeFastMutex(&PortInfoLock);
}

KT_PAGED NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Information = 0;
    return Complete(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    CancelQueuedAllocations(PortOf(device));
    irp->IoStatus.Information = 0;
    return Complete(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchInternalControl(PDEVICE_OBJECT device, PIRP irp)
{
    irp->IoStatus.Information = 0;
    const auto& parameters = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl;
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    for (const ControlEntry& entry : kControls) {
        if (entry.Code != parameters.IoControlCode) continue;
        if (parameters.InputBufferLength < entry.MinimumInput || parameters.OutputBufferLength < entry.MinimumOutput)
            status = STATUS_BUFFER_TOO_SMALL;
        else
            status = entry.Handler(PortOf(device), irp);
        break;
    }
    return status == STATUS_PENDING ? status : Complete(irp, status);
}
