// ktpptnt: the parallel-port function driver. One \Device\ParallelPort<N> per parallel port that
// a bus enumerator reports; the enumerator owns the hardware, this driver arbitrates the port and
// shares its interrupt.
#pragma once

#include <ntddk.h>
#include <parallel.h>

#include "parallel_records.h"

// Where code lives. What runs only at PASSIVE_LEVEL is pageable ("PAGE") or, if it runs only while
// the driver loads, discarded afterwards ("INIT"). Everything that can run at DISPATCH_LEVEL or
// above stays resident in .text: the routines handed to clients, cancel, deferred and completion
// routines, and every function that holds a spin lock.
#define KT_PAGED __attribute__((section("PAGE")))
#define KT_INIT __attribute__((section("INIT")))

// Every allocation carries the pool tag "Ddk " (bytes in memory order). Blocks are freed with
// ExFreePool: NT 4.0 has no ExFreePoolWithTag.
constexpr ULONG kPoolTag = 0x206B6444;

// Device-control requests to the bus enumerator (device type 0x22, METHOD_BUFFERED, any access).
constexpr ULONG IOCTL_BUS_GET_PORT_INTERFACE = 0x222000;
constexpr ULONG IOCTL_BUS_RELEASE_PORT_INTERFACE = 0x222004;
constexpr ULONG IOCTL_BUS_ENUM_PORT = 0x222084;
constexpr ULONG IOCTL_BUS_GET_PORT_KEY = 0x222088;
constexpr ULONG IOCTL_BUS_START_PORT = 0x22208C;
constexpr ULONG IOCTL_BUS_CLOSE_PORT = 0x222090;
constexpr ULONG IOCTL_BUS_OPEN_PORT = 0x222094;
constexpr ULONG IOCTL_BUS_ATTACH = 0x222098;

constexpr ULONG kPortKeyBytes = 1024;  // output of IOCTL_BUS_GET_PORT_KEY

// Enumeration selector: bits 31-29 hold 2, bits 11-0 the port index.
constexpr ULONG kFirstPortSelector = 0x40000000;
constexpr ULONG kPortIndexMask = 0x00000FFF;

// Queries of the port's function table.
constexpr ULONG kQueryPortData = 519;
constexpr ULONG kQueryPortResources = 520;

// Messages of the driver's message table (facility 7).
constexpr NTSTATUS KTPAR_LINK_CREATE_FAILED = static_cast<NTSTATUS>(0x80070001);
constexpr NTSTATUS KTPAR_INSUFFICIENT_RESOURCES = static_cast<NTSTATUS>(0xC0070004);
constexpr NTSTATUS KTPAR_CONNECT_FAILED = static_cast<NTSTATUS>(0xC0070011);
constexpr NTSTATUS KTPAR_DISCONNECT_FAILED = static_cast<NTSTATUS>(0xC0070012);

// The enumerator's per-port function table, valid from IOCTL_BUS_GET_PORT_INTERFACE until
// IOCTL_BUS_RELEASE_PORT_INTERFACE. Documented as 32-bit words; they are pointer-sized here.
struct PortInterface {
    PVOID Context;
    ULONG(NTAPI* ConnectInterrupt)(PVOID context, PVOID sharedIsr, ULONG_PTR zero, PVOID portExtension);
    ULONG(NTAPI* DisconnectInterrupt)(PVOID context);
    PVOID Unused3;
    PVOID Unused4;
    ULONG(NTAPI* Query)(PVOID context, ULONG code, PVOID buffer, ULONG_PTR zero);
};

// What query 520 tells about a port.
struct PortResources {
    ULONG BusNumber;
    ULONG InterruptLevel;
    ULONG InterruptVector;
    ULONG InterfaceType;
    ULONG InterruptAffinity;
    ULONG InterruptMode;
    PKINTERRUPT InterruptObject;  // owned by the enumerator; null without interrupt
    ULONG Word7;                  // 2, set before the query
    ULONG SpanOfController;
    ULONG IoBase;
    ULONG Word10;
    ULONG Word11;
};

// The part of a port's extension that the enumerator requests fill.
struct EnumeratorPortBlock {
    PortInterface* Interface;  // null until attached
    UCHAR PortData[8];         // answer of query 519
    UCHAR ResourcesValid;
    PortResources Resources;
};

// One opened enumerator; each port found through it holds a reference.
struct EnumeratorLink {
    LONG ReferenceCount;
    PFILE_OBJECT FileObject;
    PDEVICE_OBJECT DeviceObject;
};

// A client's interrupt routine on a port.
struct IsrListEntry {
    LIST_ENTRY Link;
    PKSERVICE_ROUTINE ServiceRoutine;
    PVOID ServiceContext;
    PPARALLEL_DEFERRED_ROUTINE DeferredPortCheckRoutine;
    PVOID DeferredContext;
};

enum PortState : ULONG { kPortCreated = 1, kPortRemoved = 2, kPortStarted = 3 };

struct PortDeviceExtension {
    PDRIVER_OBJECT DriverObject;
    PDEVICE_OBJECT DeviceObject;
    ULONG PortHandle;
    PARALLEL_PORT_INFORMATION PortInformation;
    ULONG State;
    LIST_ENTRY WorkQueue;
    LONG WorkQueueCount;  // -1 free, 0 owned, n owned with n waiting
    KDPC FreePortDpc;
    LONG FreePortDpcsPending;  // queued or running; the device may go only at 0
    ULONG InterruptRefCount;
    LIST_ENTRY IsrList;
    EnumeratorPortBlock Enumerator;
    EnumeratorLink* Link;
};

#if defined(_X86_)
// The layouts as the system documents them, on the 32-bit build.
static_assert(sizeof(PortResources) == 48, "PortResources is 48 bytes");
static_assert(sizeof(IsrListEntry) == 24, "IsrListEntry is 24 bytes");
static_assert(sizeof(EnumeratorLink) == 12, "EnumeratorLink is 12 bytes");
#endif
static_assert(sizeof(IO_ERROR_LOG_PACKET) == 48, "the error-log packet is 48 bytes");

// Driver entry and ports (driver_entry.cpp, port_device.cpp).
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
NTSTATUS ReadConfiguration(PDRIVER_OBJECT driver);
NTSTATUS ConnectEnumerator(PDRIVER_OBJECT driver, PUNICODE_STRING dosDevicePath);
void DropLinkReference(EnumeratorLink* link);
NTSTATUS CreatePortDevice(ULONG portHandle, PDRIVER_OBJECT driver, EnumeratorLink* link,
                          PortDeviceExtension** extension);
void WritePortNames(PortDeviceExtension* extension, PCWSTR portName, PCWSTR deviceName);
NTSTATUS StartPort(PortDeviceExtension* extension);
void UpdatePortDescription(PortDeviceExtension* extension);
BOOLEAN RemovePort(PortDeviceExtension* extension);
void NTAPI DriverUnload(PDRIVER_OBJECT driver);

// Requests to the enumerator (bus_requests.cpp).
NTSTATUS SendBusRequest(PDEVICE_OBJECT target, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                        ULONG outputLength);
NTSTATUS AttachPortInterface(PortDeviceExtension* extension);
BOOLEAN ReleasePortInterface(PortDeviceExtension* extension);

// Error log (error_log.cpp).
void LogDriverError(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, NTSTATUS finalStatus, NTSTATUS message);

// Kernel registry (kernel_registry.cpp). Access flags: bit 0 read, bit 1 write.
constexpr ULONG kRegistryRead = 0x1;
constexpr ULONG kRegistryWrite = 0x2;
NTSTATUS OpenRegistryKey(PCWSTR absolutePath, ULONG access, PHANDLE key);
NTSTATUS QueryValueLength(HANDLE key, PCWSTR name, PULONG length);
NTSTATUS ReadRegistryValue(HANDLE key, PCWSTR name, PVOID buffer, ULONG size);
NTSTATUS WriteRegistryValue(HANDLE key, PCWSTR name, ULONG type, const void* data, ULONG size);

// Requests of the port's clients (dispatch.cpp).
NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI DispatchInternalControl(PDEVICE_OBJECT device, PIRP irp);

// Port information grants not yet released, over all ports; the pageable code is locked in memory
// while it is above zero (dispatch.cpp).
extern LONG PortInfoUsers;
void InitializePortInformation();

// Ownership of a port and the queue of waiting allocate requests (port_queue.cpp), with the
// routines handed to clients.
NTSTATUS AllocatePort(PortDeviceExtension* extension, PIRP irp);
void CancelQueuedAllocations(PortDeviceExtension* extension);
VOID NTAPI PortCancelAllocate(PDEVICE_OBJECT device, PIRP irp);
BOOLEAN NTAPI PortTryAllocate(PVOID context);
VOID NTAPI PortFree(PVOID context);
ULONG NTAPI PortQueryWaiters(PVOID context);
BOOLEAN NTAPI PortTryAllocateAtIsr(PVOID context);
VOID NTAPI PortFreeAtIsr(PVOID context);
VOID NTAPI FreePortDpcRoutine(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);
BOOLEAN NTAPI NotifyDeferredPortChecks(PVOID context);

// Sharing the port's interrupt among clients (interrupt_sharing.cpp). The enumerator calls
// PortSharedIsr, registered on the first connection, from its interrupt service.
void InitializeInterruptSharing();
NTSTATUS ConnectClientInterrupt(PortDeviceExtension* port, PIRP irp);
// The port goes while clients may still be connected: their routines leave the ISR list inside a
// call synchronised with the interrupt, and the enumerator is told once that PortSharedIsr is gone.
void DisconnectAllClients(PortDeviceExtension* port);
NTSTATUS DisconnectClientInterrupt(PortDeviceExtension* port, PIRP irp);
ULONG NTAPI PortSharedIsr(PVOID context, ULONG, ULONG, ULONG);
