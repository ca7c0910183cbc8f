// The fake kernel's own checks: each rule it enforces is noticed when broken.
#include <ntddk.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "fake_kernel.h"

namespace {

bool Noticed(const std::string& fragment)
{
    for (const std::string& failure : fk::VerifierFailures())
        if (failure.find(fragment) != std::string::npos) return true;
    return false;
}

NTSTATUS NTAPI CompleteAtOnce(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI PendingUnmarked(PDEVICE_OBJECT, PIRP)
{
    return STATUS_PENDING;
}

NTSTATUS NTAPI SuccessUncompleted(PDEVICE_OBJECT, PIRP)
{
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI CreateCompleted(PDEVICE_OBJECT device, PIRP irp)
{
    return CompleteAtOnce(device, irp);
}

int deferredRuns = 0;

__attribute__((section("PAGE"))) VOID NTAPI PageableDeferredRoutine(PKDPC, PVOID, PVOID, PVOID)
{
    ++deferredRuns;
}

class Verifier : public testing::Test {
protected:
    void SetUp() override
    {
        fk::Reset();
        driver.MajorFunction[IRP_MJ_DEVICE_CONTROL] = CompleteAtOnce;
        ASSERT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
    }
    void TearDown() override { IoDeleteDevice(device); }
    PIRP Request()
    {
        return IoBuildDeviceIoControlRequest(0x222000, device, nullptr, 0, nullptr, 0, FALSE, nullptr, &ioStatus);
    }

    DRIVER_OBJECT driver = {};
    PDEVICE_OBJECT device = nullptr;
    IO_STATUS_BLOCK ioStatus = {};
};

TEST_F(Verifier, CompletingARequestTwice)
{
    PIRP irp = Request();
    IoCallDriver(device, irp);
    EXPECT_FALSE(Noticed("twice"));
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_TRUE(Noticed("twice"));
}

TEST_F(Verifier, CompletingWithTheCancelRoutineSet)
{
    PIRP irp = Request();
    irp->CancelRoutine = reinterpret_cast<PDRIVER_CANCEL>(1);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_TRUE(Noticed("cancel routine"));
}

TEST_F(Verifier, UnbalancedCancelLock)
{
    KIRQL irql;
    IoReleaseCancelSpinLock(PASSIVE_LEVEL);
    EXPECT_TRUE(Noticed("without holding"));
    IoAcquireCancelSpinLock(&irql);
    IoAcquireCancelSpinLock(&irql);
    EXPECT_TRUE(Noticed("while holding"));
}

TEST_F(Verifier, PoolWithAnotherTagOrLeftAtUnload)
{
    PVOID block = ExAllocatePoolWithTag(NonPagedPool, 8, 'looP');
    EXPECT_TRUE(Noticed("tag"));
    ExFreePoolWithTag(block, 'looP');
    ExAllocatePoolWithTag(PagedPool, 8, 0x206B6444);
    fk::UnloadDriver();
    EXPECT_TRUE(Noticed("pool leaked"));
}

TEST_F(Verifier, WaitingForWhatNothingWillSignal)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_TIMEOUT);
    EXPECT_TRUE(Noticed("nothing will set"));
}

}  // namespace

namespace {

TEST_F(Verifier, LevelRules)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    fk::RunAtLevel(fk::kDispatchLevel, nullptr, [&] { KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr); });
    EXPECT_TRUE(Noticed("waiting at DISPATCH_LEVEL"));
    KIRQL irql;
    fk::RunAtLevel(8, nullptr, [&] {
        IoAcquireCancelSpinLock(&irql);
        IoReleaseCancelSpinLock(irql);
    });
    EXPECT_TRUE(Noticed("cancel spin lock above DISPATCH_LEVEL"));
    EXPECT_EQ(fk::CurrentLevel(), fk::kPassiveLevel);
}

TEST_F(Verifier, PageableCodeAtDispatchLevelOnlyWhileLocked)
{
    KDPC dpc;
    KeInitializeDpc(&dpc, PageableDeferredRoutine, nullptr);
    PVOID handle = MmLockPagableCodeSection(reinterpret_cast<PVOID>(PageableDeferredRoutine));
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    fk::WaitForDeferredCalls();
    EXPECT_TRUE(fk::VerifierFailures().empty());
    MmUnlockPagableImageSection(handle);
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    fk::WaitForDeferredCalls();
    EXPECT_EQ(deferredRuns, 2);
    EXPECT_TRUE(Noticed("pageable code runs at DISPATCH_LEVEL"));
}

TEST_F(Verifier, WhatADispatchRoutineReturns)
{
    WCHAR text[] = L"\\Device\\Probe";
    UNICODE_STRING name = RTL_CONSTANT_STRING(text);
    PDEVICE_OBJECT probe = nullptr;
    ASSERT_EQ(IoCreateDevice(&driver, 0, &name, FILE_DEVICE_PARALLEL_PORT, 0, FALSE, &probe), STATUS_SUCCESS);
    driver.MajorFunction[IRP_MJ_CREATE] = CreateCompleted;
    driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = PendingUnmarked;
    fk::Status created = 0;
    const uint64_t file = fk::OpenFile(L"\\Device\\Probe", &created);
    EXPECT_EQ(created, fk::kSuccess);
    fk::SendControl(file, 0x16002C, {}, 0);
    EXPECT_TRUE(Noticed("STATUS_PENDING for a request not marked pending"));
    driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = SuccessUncompleted;
    fk::SendControl(file, 0x16002C, {}, 0);
    EXPECT_TRUE(Noticed("for a request that is not completed"));
    IoDeleteDevice(probe);
}

}  // namespace
