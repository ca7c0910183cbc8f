// Loading and unloading: the configuration, one connection per enumerator, its ports.
#include "ktpptnt.h"

namespace {

const WCHAR kProductKey[] = L"\\Registry\\MACHINE\\SOFTWARE\\Tervane\\Qarix";
const WCHAR kEnumerators[] = L"Enumerators";
const WCHAR kDosDevices[] = L"\\DosDevices\\";
constexpr ULONG kDosDevicesChars = 12;
constexpr ULONG kEnumeratorPathChars = 128;
constexpr ULONG kPortIndexes = kPortIndexMask + 1;  // the index wraps after that many

// Connects each enumerator named in the multi-string; returns how many connected and the status
// of the last attempt.
KT_INIT ULONG ConnectEnumerators(PDRIVER_OBJECT driver, const WCHAR* names, ULONG bytes, NTSTATUS& lastStatus)
{
    ULONG connected = 0;
    const ULONG chars = bytes / sizeof(WCHAR);
    ULONG at = 0;
    while (at < chars && names[at]) {
        ULONG length = 0;
        while (at + length < chars && names[at + length]) ++length;
        if (length + 13 < kEnumeratorPathChars) {
            WCHAR path[kEnumeratorPathChars];
            UNICODE_STRING dosPath = {0, sizeof path, path};
            RtlCopyMemory(path, kDosDevices, kDosDevicesChars * sizeof(WCHAR));
            RtlCopyMemory(path + kDosDevicesChars, names + at, length * sizeof(WCHAR));
            path[kDosDevicesChars + length] = 0;
            dosPath.Length = static_cast<USHORT>((kDosDevicesChars + length) * sizeof(WCHAR));
            lastStatus = ConnectEnumerator(driver, &dosPath);
            if (NT_SUCCESS(lastStatus)) ++connected;
        }
        at += length + 1;
    }
    return connected;
}

// Reads the Enumerators value into pool; the caller frees it.
KT_INIT NTSTATUS ReadEnumeratorNames(HANDLE key, WCHAR** names, ULONG* bytes)
{
    NTSTATUS status = QueryValueLength(key, kEnumerators, bytes);
    if (!NT_SUCCESS(status)) return status;
    *names = static_cast<WCHAR*>(ExAllocatePoolWithTag(PagedPool, *bytes ? *bytes : 1, kPoolTag));
    if (!*names) return STATUS_INSUFFICIENT_RESOURCES;
    status = ReadRegistryValue(key, kEnumerators, *names, *bytes);
    if (!NT_SUCCESS(status)) {
        ExFreePool(*names);
        *names = nullptr;
    }
    return status;
}

ULONG NextSelector(ULONG selector)
{
    return (selector & ~kPortIndexMask) | ((selector + 1) & kPortIndexMask);
}

KT_INIT void ClosePort(EnumeratorLink* link, ULONG portHandle)
{
    SendBusRequest(link->DeviceObject, IOCTL_BUS_CLOSE_PORT, &portHandle, sizeof portHandle, nullptr, 0);
}

}  // namespace

// Loads without paging the whole image: the resident routines must stay resident, and the
// pageable sections are pageable by their names.
extern "C" KT_INIT NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    InitializePortInformation();
    InitializeInterruptSharing();
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->DriverUnload = DriverUnload;
    return ReadConfiguration(driver);
}

KT_INIT NTSTATUS ReadConfiguration(PDRIVER_OBJECT driver)
{
    HANDLE key;
    NTSTATUS status = OpenRegistryKey(kProductKey, kRegistryRead, &key);
    if (!NT_SUCCESS(status)) return status;
    WCHAR* names = nullptr;
    ULONG bytes = 0;
    status = ReadEnumeratorNames(key, &names, &bytes);
    ZwClose(key);
    if (!NT_SUCCESS(status)) return status;

    NTSTATUS lastStatus = status;
    const ULONG connected = ConnectEnumerators(driver, names, bytes, lastStatus);
    ExFreePool(names);
    return connected ? STATUS_SUCCESS : lastStatus;
}

KT_INIT NTSTATUS ConnectEnumerator(PDRIVER_OBJECT driver, PUNICODE_STRING dosDevicePath)
{
    auto* link = static_cast<EnumeratorLink*>(ExAllocatePoolWithTag(PagedPool, sizeof(EnumeratorLink), kPoolTag));
    if (!link) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(link, sizeof *link);
    NTSTATUS status = IoGetDeviceObjectPointer(dosDevicePath, FILE_READ_DATA, &link->FileObject, &link->DeviceObject);
    if (NT_SUCCESS(status)) {
        link->ReferenceCount = 1;
        status = SendBusRequest(link->DeviceObject, IOCTL_BUS_ATTACH, nullptr, 0, nullptr, 0);
    }
    if (!NT_SUCCESS(status)) {
        DropLinkReference(link);
        return status;
    }

    // One round over the indexes at most, even if the enumerator answers every one.
    ULONG selector = kFirstPortSelector;
    for (ULONG round = 0; round < kPortIndexes; ++round, selector = NextSelector(selector)) {
        ULONG portHandle = 0;
        if (!NT_SUCCESS(SendBusRequest(link->DeviceObject, IOCTL_BUS_ENUM_PORT, &selector, sizeof selector,
                                       &portHandle, sizeof portHandle)))
            break;
        if (!NT_SUCCESS(SendBusRequest(link->DeviceObject, IOCTL_BUS_OPEN_PORT, &portHandle, sizeof portHandle,
                                       nullptr, 0)))
            continue;
        PortDeviceExtension* extension = nullptr;
        if (!NT_SUCCESS(CreatePortDevice(portHandle, driver, link, &extension))) {
            ClosePort(link, portHandle);
            continue;
        }
        // Only STATUS_SUCCESS starts a port; an informational status does not.
        if (StartPort(extension) != STATUS_SUCCESS) RemovePort(extension);
    }
    DropLinkReference(link);
    return STATUS_SUCCESS;
}

KT_PAGED void DropLinkReference(EnumeratorLink* link)
{
    if (link->ReferenceCount == 0) {
        ExFreePool(link);
        return;
    }
    if (--link->ReferenceCount == 0) {
        ObDereferenceObject(link->FileObject);
        ExFreePool(link);
    }
}

KT_PAGED void NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    while (driver->DeviceObject)
        RemovePort(static_cast<PortDeviceExtension*>(driver->DeviceObject->DeviceExtension));
}
