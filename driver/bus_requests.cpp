// Synchronous device-control requests to the bus enumerator, and the port's function table.
#include "ktpptnt.h"

namespace {

// Resident: the enumerator may complete its requests at DISPATCH_LEVEL. The request is not marked
// pending here: the driver built it and owns no stack location in it, so there is none to mark.
NTSTATUS NTAPI BusRequestDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    // The request stays with the sender, which completes it once it has taken the output.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

KT_PAGED NTSTATUS SendBusRequest(PDEVICE_OBJECT target, ULONG code, PVOID input, ULONG inputLength,
                                 PVOID output, ULONG outputLength)
{
    KEVENT done;
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus;
    PIRP irp = IoBuildDeviceIoControlRequest(code, target, input, inputLength, output, outputLength, FALSE, &done,
                                             &ioStatus);
    if (!irp) return STATUS_UNSUCCESSFUL;
    KeClearEvent(&done);
    IoSetCompletionRoutine(irp, BusRequestDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(target, irp) == STATUS_PENDING) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    const NTSTATUS status = irp->IoStatus.Status;
    if (NT_SUCCESS(status) && output && outputLength)
        RtlCopyMemory(output, irp->AssociatedIrp.SystemBuffer, outputLength);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    // For a warning the I/O manager has copied the output back all the same (for an error it
    // does not): a request that did not succeed leaves nothing behind.
    if (!NT_SUCCESS(status) && !NT_ERROR(status) && output && outputLength) RtlZeroMemory(output, outputLength);
    return status;
}

KT_INIT NTSTATUS AttachPortInterface(PortDeviceExtension* extension)
{
    EnumeratorPortBlock& block = extension->Enumerator;
    PDEVICE_OBJECT enumerator = extension->Link->DeviceObject;
    NTSTATUS status = SendBusRequest(enumerator, IOCTL_BUS_GET_PORT_INTERFACE, &extension->PortHandle,
                                     sizeof extension->PortHandle, &block.Interface, sizeof block.Interface);
    // A success without a table is a failure too: there is nothing to call.
    if (NT_SUCCESS(status) && !block.Interface) status = STATUS_UNSUCCESSFUL;
    if (!NT_SUCCESS(status)) {
        LogDriverError(extension->DriverObject, extension->DeviceObject, status, KTPAR_CONNECT_FAILED);
        return status;
    }
    PortInterface* table = block.Interface;
    if (table->Query(table->Context, kQueryPortData, block.PortData, 0)) {
        block.ResourcesValid = FALSE;
        PortResources resources;
        resources.Word7 = 2;
        if (table->Query(table->Context, kQueryPortResources, &resources, 0)) {
            block.ResourcesValid = TRUE;
            block.Resources = resources;
            return STATUS_SUCCESS;
        }
    }
    ReleasePortInterface(extension);
    return STATUS_UNSUCCESSFUL;
}

KT_PAGED BOOLEAN ReleasePortInterface(PortDeviceExtension* extension)
{
    EnumeratorPortBlock& block = extension->Enumerator;
    if (!block.Interface) return TRUE;
    NTSTATUS status = SendBusRequest(extension->Link->DeviceObject, IOCTL_BUS_RELEASE_PORT_INTERFACE,
                                     &block.Interface, sizeof block.Interface, nullptr, 0);
    if (!NT_SUCCESS(status))
        LogDriverError(extension->DriverObject, extension->DeviceObject, status, KTPAR_DISCONNECT_FAILED);
    block.Interface = nullptr;
    return NT_SUCCESS(status);
}
