// One port device: creation and names, start, description, removal.
#include "ktpptnt.h"
#include "port_description.h"

namespace {

const WCHAR kDeviceNamePrefix[] = L"\\Device\\ParallelPort";
const WCHAR kPortNamePrefix[] = L"LPT";
const WCHAR kDriverFileName[] = L"ktpptnt.sys";
constexpr ULONG kDevicePrefixChars = 8;  // "\Device\"
constexpr ULONG kDeviceNameChars = 26;
constexpr ULONG kPortNameChars = 10;
constexpr ULONG kNumberChars = 5;
constexpr ULONG kValueChars = 128;

ULONG WideLength(PCWSTR text)
{
    ULONG length = 0;
    while (text[length]) ++length;
    return length;
}

ULONG WideBytes(PCWSTR text)
{
    return (WideLength(text) + 1) * sizeof(WCHAR);
}

// prefix followed by number in decimal, in a buffer of chars characters.
KT_INIT NTSTATUS NumberedName(PCWSTR prefix, ULONG number, PWSTR out, ULONG chars)
{
    WCHAR digits[kNumberChars];
    // Room for four digits: a larger number fails rather than fill the buffer without terminator.
    UNICODE_STRING text = {0, sizeof digits - sizeof(WCHAR), digits};
    NTSTATUS status = RtlIntegerToUnicodeString(number, 10, &text);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING name = {0, static_cast<USHORT>(chars * sizeof(WCHAR)), out};
    status = RtlAppendUnicodeToString(&name, prefix);
    if (NT_SUCCESS(status)) status = RtlAppendUnicodeStringToString(&name, &text);
    if (NT_SUCCESS(status) && name.Length + sizeof(WCHAR) <= name.MaximumLength)
        out[name.Length / sizeof(WCHAR)] = 0;
    else if (NT_SUCCESS(status))
        status = STATUS_BUFFER_OVERFLOW;
    return status;
}

// Opens the port's device key, whose path the enumerator tells.
KT_INIT NTSTATUS OpenPortKey(PortDeviceExtension* extension, PHANDLE key)
{
    auto* path = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, kPortKeyBytes + sizeof(WCHAR), kPoolTag));
    if (!path) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(path, kPortKeyBytes + sizeof(WCHAR));
    NTSTATUS status = SendBusRequest(extension->Link->DeviceObject, IOCTL_BUS_GET_PORT_KEY, &extension->PortHandle,
                                     sizeof extension->PortHandle, path, kPortKeyBytes);
    if (NT_SUCCESS(status)) status = OpenRegistryKey(path, kRegistryRead, key);
    ExFreePool(path);
    return status;
}

// A text value of at most 128 characters; false when missing or longer.
KT_INIT bool ReadText(HANDLE key, PCWSTR name, WCHAR (&text)[kValueChars + 1])
{
    RtlZeroMemory(text, sizeof text);
    return NT_SUCCESS(ReadRegistryValue(key, name, text, kValueChars * sizeof(WCHAR)));
}

}  // namespace

KT_INIT NTSTATUS CreatePortDevice(ULONG portHandle, PDRIVER_OBJECT driver, EnumeratorLink* link,
                          PortDeviceExtension** created)
{
    if (portHandle == 0) return STATUS_NO_MORE_ENTRIES;
    PCONFIGURATION_INFORMATION configuration = IoGetConfigurationInformation();
    const ULONG number = configuration->ParallelCount++;

    WCHAR deviceName[kDeviceNameChars];
    WCHAR portName[kPortNameChars];
    NTSTATUS status = NumberedName(kDeviceNamePrefix, number, deviceName, kDeviceNameChars);
    if (NT_SUCCESS(status)) status = NumberedName(kPortNamePrefix, number + 1, portName, kPortNameChars);
    PDEVICE_OBJECT device = nullptr;
    if (NT_SUCCESS(status)) {
        UNICODE_STRING name = {static_cast<USHORT>(WideLength(deviceName) * sizeof(WCHAR)),
                               static_cast<USHORT>(sizeof deviceName), deviceName};
        status = IoCreateDevice(driver, sizeof(PortDeviceExtension), &name, FILE_DEVICE_PARALLEL_PORT, 0, FALSE,
                                &device);
    }
    if (!NT_SUCCESS(status)) {
        --configuration->ParallelCount;
        return status;
    }

    auto* extension = static_cast<PortDeviceExtension*>(device->DeviceExtension);
    RtlZeroMemory(extension, sizeof *extension);
    extension->Link = link;
    extension->DeviceObject = device;
    extension->DriverObject = driver;
    extension->PortHandle = portHandle;
    KeInitializeDpc(&extension->FreePortDpc, FreePortDpcRoutine, extension);
    InitializeListHead(&extension->WorkQueue);
    InitializeListHead(&extension->IsrList);
    extension->WorkQueueCount = -1;
    extension->Enumerator.Interface = nullptr;
    extension->State = kPortCreated;
    *created = extension;
    ++link->ReferenceCount;
    WritePortNames(extension, portName, deviceName);
    return STATUS_SUCCESS;
}

KT_INIT void WritePortNames(PortDeviceExtension* extension, PCWSTR portName, PCWSTR deviceName)
{
    HANDLE key;
    if (!NT_SUCCESS(OpenPortKey(extension, &key))) return;
    PCWSTR shortName = deviceName + kDevicePrefixChars;
    WriteRegistryValue(key, L"PortName", REG_SZ, portName, WideBytes(portName));
    WriteRegistryValue(key, L"DriverName", REG_SZ, kDriverFileName, WideBytes(kDriverFileName));
    WriteRegistryValue(key, L"DeviceName", REG_SZ, shortName, WideBytes(shortName));
    ZwClose(key);
}

KT_INIT NTSTATUS StartPort(PortDeviceExtension* extension)
{
    NTSTATUS status = SendBusRequest(extension->Link->DeviceObject, IOCTL_BUS_START_PORT, &extension->PortHandle,
                                     sizeof extension->PortHandle, nullptr, 0);
    if (status != STATUS_SUCCESS) return status;
    status = AttachPortInterface(extension);
    if (!NT_SUCCESS(status)) return status;

    const PortResources& resources = extension->Enumerator.Resources;
    PARALLEL_PORT_INFORMATION& info = extension->PortInformation;
    info.OriginalController.QuadPart = resources.IoBase;
    info.Controller = reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(resources.IoBase));
    info.SpanOfController = resources.SpanOfController;
    info.TryAllocatePort = PortTryAllocate;
    info.FreePort = PortFree;
    info.QueryNumWaiters = PortQueryWaiters;
    info.Context = extension;
    UpdatePortDescription(extension);
    extension->State = kPortStarted;
    return STATUS_SUCCESS;
}

KT_INIT void UpdatePortDescription(PortDeviceExtension* extension)
{
    HANDLE key;
    if (!NT_SUCCESS(OpenPortKey(extension, &key))) return;
    WCHAR portName[kValueChars + 1];
    WCHAR description[kValueChars + 1];
    if (ReadText(key, L"PortName", portName) &&
        (ReadText(key, L"DeviceDesc", description) || ReadText(key, L"FriendlyName", description))) {
        WCHAR composed[kDescriptionChars];
        ComposePortDescription(description, portName, composed, kDescriptionChars);
        WriteRegistryValue(key, L"DeviceDesc", REG_SZ, composed, WideBytes(composed));
        WriteRegistryValue(key, L"FriendlyName", REG_SZ, composed, WideBytes(composed));
    }
    ZwClose(key);
}

// The deferred free lives in the device: it must have run, or be taken off the queue, before the
// device goes. With the clients' routines gone nothing queues it again.
KT_PAGED void WaitForFreePortDpc(PortDeviceExtension* extension)
{
    if (KeRemoveQueueDpc(&extension->FreePortDpc)) InterlockedDecrement(&extension->FreePortDpcsPending);
    LARGE_INTEGER pause;
    pause.QuadPart = -10 * 1000;  // 1 ms, relative
    while (InterlockedCompareExchange(&extension->FreePortDpcsPending, 0, 0) != 0)
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
}

KT_PAGED BOOLEAN RemovePort(PortDeviceExtension* extension)
{
    DisconnectAllClients(extension);  // needs the enumerator's interface, released next
    WaitForFreePortDpc(extension);
    const BOOLEAN released = ReleasePortInterface(extension);
    extension->State = kPortRemoved;
    SendBusRequest(extension->Link->DeviceObject, IOCTL_BUS_CLOSE_PORT, &extension->PortHandle,
                   sizeof extension->PortHandle, nullptr, 0);
    DropLinkReference(extension->Link);
    IoDeleteDevice(extension->DeviceObject);
    --IoGetConfigurationInformation()->ParallelCount;
    return released;
}
