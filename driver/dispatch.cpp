// Requests of the port's clients. Opening and closing always succeed; the arbitration of the port
// (allocate requests, port information, interrupts) is not served yet.
#include "ktpptnt.h"

namespace {

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

}  // namespace

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    return Complete(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT, PIRP irp)
{
    return Complete(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchInternalControl(PDEVICE_OBJECT, PIRP irp)
{
    return Complete(irp, STATUS_INVALID_PARAMETER);
}

BOOLEAN NTAPI PortTryAllocate(PVOID)
{
    return FALSE;
}

VOID NTAPI PortFree(PVOID)
{
}

ULONG NTAPI PortQueryWaiters(PVOID)
{
    return 0;
}

VOID NTAPI FreePortDpcRoutine(PKDPC, PVOID context, PVOID, PVOID)
{
    PortFree(context);
}
