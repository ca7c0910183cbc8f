// Ownership of a port: WorkQueueCount is -1 while the port is free, 0 while it is owned and nobody
// waits, n while n allocate requests wait in the work queue. The queue and the cancel routines are
// guarded by the cancel spin lock. Once a client has connected an interrupt, clients also change the
// count at interrupt level, so every other access to it is then synchronised with the interrupt.
//
// All of this can run at DISPATCH_LEVEL or above and stays resident.
#include "ktpptnt.h"

namespace {

PortDeviceExtension* PortOf(PVOID context)
{
    return static_cast<PortDeviceExtension*>(context);
}

PIRP QueuedIrp(PLIST_ENTRY entry)
{
    return CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
}

// One access to WorkQueueCount: adds Delta (0 only reads) and keeps the new value. The count never
// goes below -1: freeing a free port leaves it free.
struct CountChange {
    PortDeviceExtension* Port;
    LONG Delta;
    LONG WasFree;
    LONG Result;
};

BOOLEAN NTAPI ChangeCount(PVOID context)
{
    auto* change = static_cast<CountChange*>(context);
    LONG& count = change->Port->WorkQueueCount;
    change->WasFree = count == -1;
    if (count + change->Delta >= -1) count += change->Delta;
    change->Result = count;
    return TRUE;
}

// Runs routine on the port's count: inside the port's interrupt lock while an interrupt is
// connected, directly otherwise. The caller holds the cancel spin lock either way.
BOOLEAN UnderCountRule(PortDeviceExtension* port, PKSYNCHRONIZE_ROUTINE routine, PVOID context)
{
    if (port->InterruptRefCount)
        return KeSynchronizeExecution(port->Enumerator.Resources.InterruptObject, routine, context);
    return routine(context);
}

LONG AddToCount(PortDeviceExtension* port, LONG delta, LONG* wasFree = nullptr)
{
    CountChange change = {port, delta, FALSE, 0};
    UnderCountRule(port, ChangeCount, &change);
    if (wasFree) *wasFree = change.WasFree;
    return change.Result;
}

void CompleteAllocation(PIRP irp, NTSTATUS status, CCHAR boost)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, boost);
}

// With the cancel spin lock held, right after the owner gave the port up (count is the new
// value): hands the port to the oldest waiting request, taken off the queue in the same hold, so
// that the queue always holds as many requests as the count says. Requests cancelled meanwhile give
// up their place and are completed on the way. Returns the granted request, or null when the port
// is free.
PIRP TakeNextOwner(PortDeviceExtension* port, LONG count, KIRQL& irql)
{
    while (count >= 0 && !IsListEmpty(&port->WorkQueue)) {
        PIRP irp = QueuedIrp(RemoveHeadList(&port->WorkQueue));
        IoSetCancelRoutine(irp, nullptr);
        if (!irp->Cancel) return irp;
        count = AddToCount(port, -1);
        IoReleaseCancelSpinLock(irql);
        CompleteAllocation(irp, STATUS_CANCELLED, IO_NO_INCREMENT);
        IoAcquireCancelSpinLock(&irql);
    }
    return nullptr;
}

void NotifyIfStillFree(PortDeviceExtension* port)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    const ULONG connected = port->InterruptRefCount;
    IoReleaseCancelSpinLock(irql);
    if (connected) KeSynchronizeExecution(port->Enumerator.Resources.InterruptObject, NotifyDeferredPortChecks, port);
}

}  // namespace

NTSTATUS AllocatePort(PortDeviceExtension* port, PIRP irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    NTSTATUS status = STATUS_CANCELLED;
    if (!irp->Cancel) {
        if (AddToCount(port, 1) == 0) {
            status = STATUS_SUCCESS;
        } else {
            IoSetCancelRoutine(irp, PortCancelAllocate);
            IoMarkIrpPending(irp);
            InsertTailList(&port->WorkQueue, &irp->Tail.Overlay.ListEntry);
            status = STATUS_PENDING;
        }
    }
    IoReleaseCancelSpinLock(irql);
    return status;
}

// Entered with the cancel spin lock held, by the system's cancellation or by cleanup.
VOID NTAPI PortCancelAllocate(PDEVICE_OBJECT device, PIRP irp)
{
    auto* port = static_cast<PortDeviceExtension*>(device->DeviceExtension);
    AddToCount(port, -1);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CompleteAllocation(irp, STATUS_CANCELLED, IO_NO_INCREMENT);
}

// Cleanup: cancels every waiting request of the port, newest first.
void CancelQueuedAllocations(PortDeviceExtension* port)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    while (!IsListEmpty(&port->WorkQueue)) {
        PIRP irp = QueuedIrp(port->WorkQueue.Blink);
        irp->Cancel = TRUE;
        irp->CancelIrql = irql;
        IoSetCancelRoutine(irp, nullptr);
        PortCancelAllocate(port->DeviceObject, irp);
        IoAcquireCancelSpinLock(&irql);
    }
    IoReleaseCancelSpinLock(irql);
}

VOID NTAPI PortFree(PVOID context)
{
    PortDeviceExtension* port = PortOf(context);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    LONG wasFree = FALSE;
    const LONG count = AddToCount(port, -1, &wasFree);
    PIRP granted = wasFree ? nullptr : TakeNextOwner(port, count, irql);  // free: the caller did not own it
    IoReleaseCancelSpinLock(irql);
    if (granted)
        CompleteAllocation(granted, STATUS_SUCCESS, IO_PARALLEL_INCREMENT);
    else if (!wasFree)
        NotifyIfStillFree(port);
}

BOOLEAN NTAPI PortTryAllocate(PVOID context)
{
    PortDeviceExtension* port = PortOf(context);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    const BOOLEAN allocated = UnderCountRule(port, PortTryAllocateAtIsr, port);
    IoReleaseCancelSpinLock(irql);
    return allocated;
}

ULONG NTAPI PortQueryWaiters(PVOID context)
{
    PortDeviceExtension* port = PortOf(context);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    const LONG count = AddToCount(port, 0);
    IoReleaseCancelSpinLock(irql);
    return count > 0 ? static_cast<ULONG>(count) : 0;
}

// Called in the client's interrupt routine or synchronised with the port's interrupt.
BOOLEAN NTAPI PortTryAllocateAtIsr(PVOID context)
{
    PortDeviceExtension* port = PortOf(context);
    if (port->WorkQueueCount != -1) return FALSE;
    port->WorkQueueCount = 0;
    return TRUE;
}

// As PortTryAllocateAtIsr. A waiter is granted by the deferred call, outside the interrupt.
VOID NTAPI PortFreeAtIsr(PVOID context)
{
    PortDeviceExtension* port = PortOf(context);
    if (port->WorkQueueCount == 0) {
        port->WorkQueueCount = -1;
        return;
    }
    InterlockedIncrement(&port->FreePortDpcsPending);
    if (!KeInsertQueueDpc(&port->FreePortDpc, nullptr, nullptr)) InterlockedDecrement(&port->FreePortDpcsPending);
}

VOID NTAPI FreePortDpcRoutine(PKDPC, PVOID context, PVOID, PVOID)
{
    PortFree(context);
    InterlockedDecrement(&PortOf(context)->FreePortDpcsPending);  // the last touch of the device
}

// Synchronised with the port's interrupt: when the port is still free, tells every connected
// client that has a deferred port-check routine.
BOOLEAN NTAPI NotifyDeferredPortChecks(PVOID context)
{
    PortDeviceExtension* port = PortOf(context);
    if (port->WorkQueueCount >= 0) return FALSE;
    for (PLIST_ENTRY entry = port->IsrList.Flink; entry != &port->IsrList; entry = entry->Flink) {
        IsrListEntry* isr = CONTAINING_RECORD(entry, IsrListEntry, Link);
        if (isr->DeferredPortCheckRoutine) isr->DeferredPortCheckRoutine(isr->DeferredContext);
    }
    return TRUE;
}
