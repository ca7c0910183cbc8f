// A fake bus enumerator: a device that answers the eight private control codes, at once or later,
// and hands out a port function table whose Query reports the port's resources, with an interrupt
// object of its own for a port that has one.
#include <cstring>

#include "kernel_state.h"
#include "ktpptnt.h"

namespace fk {
namespace {

// The function table of one port, with the port it belongs to.
struct FakeInterface {
    PortInterface table;
    FakeEnumerator* enumerator;
    uint32_t handle;
    FakeInterrupt* interrupt;  // null for a port without interrupt
    PVOID sharedIsr;           // registered by ConnectInterrupt, with its context
    PVOID sharedIsrContext;
};

using SharedIsr = ULONG(NTAPI*)(PVOID context, ULONG, ULONG, ULONG);

std::vector<std::unique_ptr<FakeInterface>>& Interfaces()
{
    static std::vector<std::unique_ptr<FakeInterface>> interfaces;
    return interfaces;
}

const FakePort* PortOf(const FakeEnumerator& enumerator, uint32_t handle)
{
    for (const FakePort& port : enumerator.ports)
        if (port.handle == handle) return &port;
    return nullptr;
}

ULONG NTAPI Query(PVOID context, ULONG code, PVOID buffer, ULONG_PTR)
{
    auto* owner = static_cast<FakeInterface*>(context);
    const FakePort* port = PortOf(*owner->enumerator, owner->handle);
    if (!port) return 0;
    if (code == kQueryPortData) {
        if (port->answersPortData) std::memset(buffer, 0x19, 8);
        return port->answersPortData;
    }
    if (code == kQueryPortResources && port->answersResources) {
        auto* resources = static_cast<PortResources*>(buffer);
        if (resources->Word7 != 2) Fail("query 520 without word 7 set to 2");
        resources->BusNumber = 1;
        resources->InterruptLevel = port->interruptLevel;
        resources->InterruptVector = port->interruptVector;
        resources->InterfaceType = PCIBus;
        resources->InterruptAffinity = 1;
        resources->InterruptMode = LevelSensitive;
        resources->InterruptObject = reinterpret_cast<PKINTERRUPT>(owner->interrupt);
        resources->SpanOfController = port->span;
        resources->IoBase = port->ioBase;
        resources->Word10 = resources->Word11 = 0;
        return 1;
    }
    return 0;
}

// Registers the driver's routine for the port's interrupt; one at a time.
ULONG NTAPI ConnectInterrupt(PVOID context, PVOID sharedIsr, ULONG_PTR, PVOID sharedIsrContext)
{
    auto* owner = static_cast<FakeInterface*>(context);
    Guard guard(Lock());
    FakeEnumerator& enumerator = *owner->enumerator;
    if (enumerator.refusesInterrupts) return 0;
    if (owner->sharedIsr) Fail("registering an interrupt routine while one is registered");
    owner->sharedIsr = sharedIsr;
    owner->sharedIsrContext = sharedIsrContext;
    if (FakeInterrupt* interrupt = owner->interrupt) {
        interrupt->look = WatchPort(sharedIsrContext);
        interrupt->afterLastSection = interrupt->look();
        ++interrupt->registrations;
    }
    ++enumerator.interruptConnects;
    enumerator.interruptsRegistered.insert(owner->handle);
    return 1;
}

// Unregisters it, once no interrupt is being serviced.
ULONG NTAPI DisconnectInterrupt(PVOID context)
{
    auto* owner = static_cast<FakeInterface*>(context);
    if (owner->interrupt) owner->interrupt->lock.Acquire();
    {
        Guard guard(Lock());
        if (!owner->sharedIsr) Fail("unregistering an interrupt routine that is not registered");
        owner->sharedIsr = nullptr;
        if (owner->interrupt) ++owner->interrupt->registrations;
        ++owner->enumerator->interruptDisconnects;
        owner->enumerator->interruptsRegistered.erase(owner->handle);
    }
    if (owner->interrupt) owner->interrupt->lock.Release();
    return 1;
}

uint32_t InputWord(PIRP irp)
{
    uint32_t word = 0;
    if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength >= sizeof word)
        std::memcpy(&word, irp->AssociatedIrp.SystemBuffer, sizeof word);
    return word;
}

// The answer to one request: its status and the bytes of its output.
NTSTATUS Answer(FakeEnumerator& enumerator, PIRP irp, std::vector<uint8_t>& output)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const uint32_t word = InputWord(irp);
    auto failed = enumerator.failCode.find(code);
    if (failed != enumerator.failCode.end()) return failed->second;
    auto failedForPort = enumerator.failPortCode.find({code, word});
    if (failedForPort != enumerator.failPortCode.end()) return failedForPort->second;

    const auto put = [&](const void* data, size_t size) {
        output.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    };
    switch (code) {
    case IOCTL_BUS_ATTACH: return STATUS_SUCCESS;
    case IOCTL_BUS_ENUM_PORT: {
        if (word >> 29 != 2) Fail("enumeration selector without 2 in bits 31-29");
        uint32_t index = word & kPortIndexMask;
        if (enumerator.answersEveryIndex && !enumerator.ports.empty()) index %= enumerator.ports.size();
        if (index >= enumerator.ports.size()) return STATUS_NO_MORE_ENTRIES;
        put(&enumerator.ports[index].handle, sizeof(uint32_t));
        return STATUS_SUCCESS;
    }
    case IOCTL_BUS_OPEN_PORT:
    case IOCTL_BUS_START_PORT:
    case IOCTL_BUS_CLOSE_PORT: return PortOf(enumerator, word) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    case IOCTL_BUS_GET_PORT_KEY: {
        const FakePort* port = PortOf(enumerator, word);
        if (!port) return STATUS_INVALID_PARAMETER;
        put(port->keyPath.c_str(), (port->keyPath.size() + 1) * sizeof(wchar_t));
        return STATUS_SUCCESS;
    }
    case IOCTL_BUS_GET_PORT_INTERFACE: {
        const FakePort* port = PortOf(enumerator, word);
        if (!port) return STATUS_INVALID_PARAMETER;
        if (enumerator.nullInterface) {
            const PortInterface* none = nullptr;
            put(&none, sizeof none);
            return STATUS_SUCCESS;
        }
        auto owner = std::make_unique<FakeInterface>();
        owner->table = PortInterface{owner.get(), ConnectInterrupt, DisconnectInterrupt, nullptr, nullptr, Query};
        owner->enumerator = &enumerator;
        owner->handle = word;
        owner->interrupt = nullptr;
        owner->sharedIsr = owner->sharedIsrContext = nullptr;
        if (port->hasInterrupt) {
            Guard guard(Lock());
            K().interrupts.push_back(std::make_unique<FakeInterrupt>());
            owner->interrupt = K().interrupts.back().get();
        }
        PortInterface* table = &owner->table;
        Interfaces().push_back(std::move(owner));
        enumerator.interfacesHeld.insert(word);
        put(&table, sizeof table);
        return STATUS_SUCCESS;
    }
    case IOCTL_BUS_RELEASE_PORT_INTERFACE: {
        PortInterface* table = nullptr;
        std::memcpy(&table, irp->AssociatedIrp.SystemBuffer, sizeof table);
        for (const auto& owner : Interfaces())
            if (&owner->table == table) {
                enumerator.interfacesHeld.erase(owner->handle);
                return STATUS_SUCCESS;
            }
        Fail("releasing a port interface that was never handed out");
        return STATUS_INVALID_PARAMETER;
    }
    default: return STATUS_INVALID_DEVICE_REQUEST;
    }
}

void Finish(PIRP irp, NTSTATUS status, const std::vector<uint8_t>& output)
{
    const ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG written = 0;
    if (!NT_ERROR(status) && !output.empty()) {
        written = static_cast<ULONG>(output.size() < room ? output.size() : room);
        std::memcpy(irp->AssociatedIrp.SystemBuffer, output.data(), written);
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = written;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    FakeEnumerator& enumerator = **static_cast<FakeEnumerator**>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const auto* input = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    {
        Guard guard(Lock());
        enumerator.requests.push_back(BusRequest{
            code, std::vector<uint8_t>(input, input + (input ? stack->Parameters.DeviceIoControl.InputBufferLength : 0))});
    }
    std::vector<uint8_t> output;
    NTSTATUS status = Answer(enumerator, irp, output);
    const auto warned = enumerator.warnCode.find(code);
    if (warned != enumerator.warnCode.end() && NT_SUCCESS(status)) status = static_cast<NTSTATUS>(warned->second);
    if (!enumerator.pendingCodes.count(code)) {
        Finish(irp, status, output);
        return status;
    }
    // Answered later, by a deferred call at DISPATCH_LEVEL, as a real enumerator may.
    IoMarkIrpPending(irp);
    Defer([irp, status, output] { Finish(irp, status, output); });
    return STATUS_PENDING;
}

}  // namespace

FakeEnumerator& AddEnumerator(const std::wstring& dosName)
{
    Kernel& kernel = K();
    kernel.enumeratorDriver.MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
    kernel.enumerators.push_back(std::make_unique<FakeEnumerator>());
    FakeEnumerator* enumerator = kernel.enumerators.back().get();
    auto* device = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT) + sizeof(void*)));
    device->Type = IO_TYPE_DEVICE;
    device->DriverObject = &kernel.enumeratorDriver;
    device->StackSize = 1;
    device->DeviceExtension = device + 1;
    *static_cast<FakeEnumerator**>(device->DeviceExtension) = enumerator;
    RegisterName(L"\\DosDevices\\" + dosName, device, enumerator);
    return *enumerator;
}

int FireInterrupt(PortInterface* table)
{
    auto* owner = static_cast<FakeInterface*>(table->Context);
    FakeInterrupt* interrupt = owner->interrupt;
    int result = -1;
    if (!interrupt) return result;
    RunOnInterruptThread([&] {
        const KIRQL previous = RaiseLevel(interrupt->level);
        interrupt->lock.Acquire();
        SharedIsr isr;
        PVOID context;
        {
            Guard guard(Lock());
            isr = reinterpret_cast<SharedIsr>(owner->sharedIsr);
            context = owner->sharedIsrContext;
        }
        if (isr) {
            CheckResident(reinterpret_cast<const void*>(isr), "an interrupt service routine");
            CheckIsrListPool(context);
            EnterSection(*interrupt);
            result = static_cast<int>(isr(context, 0, 0, 0));
            LeaveSection(*interrupt);
        }
        interrupt->lock.Release();
        LowerLevel(previous);
    });
    return result;
}

void ResetEnumerators()
{
    Interfaces().clear();
}

}  // namespace fk
