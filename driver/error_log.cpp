// Entries in the system error log for the enumerator failures the driver meets.
#include "ktpptnt.h"

KT_PAGED void LogDriverError(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, NTSTATUS finalStatus, NTSTATUS message)
{
    PVOID source = device ? static_cast<PVOID>(device) : static_cast<PVOID>(driver);
    auto* entry = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(source, sizeof(IO_ERROR_LOG_PACKET)));
    if (!entry) return;
    entry->MajorFunctionCode = 0;
    entry->RetryCount = 1;
    entry->DumpDataSize = 0;
    entry->NumberOfStrings = 0;
    entry->StringOffset = 0;
    entry->EventCategory = 0;
    entry->ErrorCode = message;
    entry->UniqueErrorValue = static_cast<ULONG>(message);
    entry->FinalStatus = finalStatus;
    entry->SequenceNumber = 1;
    entry->IoControlCode = 0;
    entry->DeviceOffset.QuadPart = 0;
    IoWriteErrorLogEntry(entry);
}
