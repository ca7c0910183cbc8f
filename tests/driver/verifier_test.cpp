// The fake kernel's own checks: each rule it enforces is noticed when broken.
#include <ntddk.h>
#include <gtest/gtest.h>

#include <string>

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
