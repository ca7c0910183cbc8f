// Sharing a port's interrupt: the enumerator owns the interrupt object and calls PortSharedIsr,
// which offers the interrupt to the connected clients' routines in the order they connected.
// InterruptRefCount counts the connections under the cancel spin lock; the ISR list changes only
// inside calls synchronised with the interrupt. Registering with the enumerator on the first
// connection and unregistering on the last are serialised by a mutex, so that the enumerator sees
// one registration per 0-to-1 transition and one unregistration per 1-to-0, however clients race.
//
// Resident: the list routines run at device level, the rest holds the cancel spin lock.
#include "ktpptnt.h"

namespace {

KMUTEX RegistrationLock;

PKINTERRUPT InterruptOf(PortDeviceExtension* port)
{
    return port->Enumerator.Resources.InterruptObject;
}

struct IsrChange {
    PortDeviceExtension* Port;
    IsrListEntry* Entry;                                // appended, or the one unlinked
    const PARALLEL_INTERRUPT_SERVICE_ROUTINE* Routine;  // what to unlink
};

BOOLEAN NTAPI AppendIsr(PVOID context)
{
    auto* change = static_cast<IsrChange*>(context);
    InsertTailList(&change->Port->IsrList, &change->Entry->Link);
    return TRUE;
}

// Unlinks the first entry with the routine and context asked for.
BOOLEAN NTAPI UnlinkIsr(PVOID context)
{
    auto* change = static_cast<IsrChange*>(context);
    LIST_ENTRY& list = change->Port->IsrList;
    for (PLIST_ENTRY link = list.Flink; link != &list; link = link->Flink) {
        IsrListEntry* entry = CONTAINING_RECORD(link, IsrListEntry, Link);
        if (entry->ServiceRoutine == change->Routine->InterruptServiceRoutine &&
            entry->ServiceContext == change->Routine->InterruptServiceContext) {
            RemoveEntryList(link);
            change->Entry = entry;
            return TRUE;
        }
    }
    return FALSE;
}

struct IsrTakeAll {
    PortDeviceExtension* Port;
    LIST_ENTRY* Into;
};

BOOLEAN NTAPI TakeAllIsrs(PVOID context)
{
    auto* take = static_cast<IsrTakeAll*>(context);
    while (!IsListEmpty(&take->Port->IsrList)) InsertTailList(take->Into, RemoveHeadList(&take->Port->IsrList));
    return TRUE;
}

// Adds delta (0 only reads) to the connection count; returns the new count.
ULONG ChangeConnectionCount(PortDeviceExtension* port, LONG delta)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    port->InterruptRefCount += delta;
    const ULONG count = port->InterruptRefCount;
    IoReleaseCancelSpinLock(irql);
    return count;
}

// One more connection; the first registers PortSharedIsr with the enumerator.
NTSTATUS AddConnection(PortDeviceExtension* port)
{
    if (ChangeConnectionCount(port, 0) == 0) {
        PortInterface* table = port->Enumerator.Interface;
        if (!table->ConnectInterrupt(table->Context, reinterpret_cast<PVOID>(PortSharedIsr), 0, port))
            return STATUS_UNSUCCESSFUL;
    }
    ChangeConnectionCount(port, 1);
    return STATUS_SUCCESS;
}

// One connection less; the last unregisters PortSharedIsr.
void DropConnection(PortDeviceExtension* port)
{
    ChangeConnectionCount(port, -1);
    if (ChangeConnectionCount(port, 0) == 0) {
        PortInterface* table = port->Enumerator.Interface;
        table->DisconnectInterrupt(table->Context);
    }
}

const PARALLEL_INTERRUPT_SERVICE_ROUTINE& RoutineOf(PIRP irp)
{
    return *static_cast<const PARALLEL_INTERRUPT_SERVICE_ROUTINE*>(irp->AssociatedIrp.SystemBuffer);
}

}  // namespace

KT_INIT void InitializeInterruptSharing()
{
    KeInitializeMutex(&RegistrationLock, 0);
}

NTSTATUS ConnectClientInterrupt(PortDeviceExtension* port, PIRP irp)
{
    if (!InterruptOf(port)) return STATUS_INSUFFICIENT_RESOURCES;
    const PARALLEL_INTERRUPT_SERVICE_ROUTINE routine = RoutineOf(irp);  // the output overwrites it
    KeWaitForMutexObject(&RegistrationLock, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = AddConnection(port);
    if (NT_SUCCESS(status)) {
        auto* entry = static_cast<IsrListEntry*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(IsrListEntry), kPoolTag));
        if (entry) {
            entry->ServiceRoutine = routine.InterruptServiceRoutine;
            entry->ServiceContext = routine.InterruptServiceContext;
            entry->DeferredPortCheckRoutine = routine.DeferredPortCheckRoutine;
            entry->DeferredContext = routine.DeferredPortCheckContext;
            IsrChange change = {port, entry, nullptr};
            KeSynchronizeExecution(InterruptOf(port), AppendIsr, &change);
        } else {
            // Give the connection back: no registration outlives its last client.
            DropConnection(port);
            status = STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    KeReleaseMutex(&RegistrationLock, FALSE);
    if (!NT_SUCCESS(status)) return status;

    auto* information = static_cast<PPARALLEL_INTERRUPT_INFORMATION>(irp->AssociatedIrp.SystemBuffer);
    information->InterruptObject = InterruptOf(port);
    information->TryAllocatePortAtInterruptLevel = PortTryAllocateAtIsr;
    information->FreePortFromInterruptLevel = PortFreeAtIsr;
    information->Context = port;
    irp->IoStatus.Information = sizeof(PARALLEL_INTERRUPT_INFORMATION);
    return STATUS_SUCCESS;
}

NTSTATUS DisconnectClientInterrupt(PortDeviceExtension* port, PIRP irp)
{
    const PARALLEL_INTERRUPT_SERVICE_ROUTINE& routine = RoutineOf(irp);
    KeWaitForMutexObject(&RegistrationLock, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    IsrChange change = {port, nullptr, &routine};
    if (ChangeConnectionCount(port, 0) && KeSynchronizeExecution(InterruptOf(port), UnlinkIsr, &change)) {
        ExFreePool(change.Entry);
        DropConnection(port);
        status = STATUS_SUCCESS;
    }
    KeReleaseMutex(&RegistrationLock, FALSE);
    return status;
}

void DisconnectAllClients(PortDeviceExtension* port)
{
    LIST_ENTRY taken;
    InitializeListHead(&taken);
    IsrTakeAll take = {port, &taken};
    KeWaitForMutexObject(&RegistrationLock, Executive, KernelMode, FALSE, nullptr);
    if (InterruptOf(port))
        KeSynchronizeExecution(InterruptOf(port), TakeAllIsrs, &take);
    else
        TakeAllIsrs(&take);  // nothing can be connected without an interrupt
    if (const ULONG connections = ChangeConnectionCount(port, 0)) {
        ChangeConnectionCount(port, -static_cast<LONG>(connections));
        PortInterface* table = port->Enumerator.Interface;
        table->DisconnectInterrupt(table->Context);
    }
    KeReleaseMutex(&RegistrationLock, FALSE);
    while (!IsListEmpty(&taken)) ExFreePool(CONTAINING_RECORD(RemoveHeadList(&taken), IsrListEntry, Link));
}

// Called by the enumerator's interrupt service, holding the interrupt's lock at device level.
ULONG NTAPI PortSharedIsr(PVOID context, ULONG, ULONG, ULONG)
{
    auto* port = static_cast<PortDeviceExtension*>(context);
    for (PLIST_ENTRY link = port->IsrList.Flink; link != &port->IsrList; link = link->Flink) {
        IsrListEntry* entry = CONTAINING_RECORD(link, IsrListEntry, Link);
        if (entry->ServiceRoutine(InterruptOf(port), entry->ServiceContext)) return 1;
    }
    return 0;
}
