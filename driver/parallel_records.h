// The published records of the parallel-port internal interface, as this build lays them out. The
// cross-compiler's headers lack PARALLEL_INTERRUPT_INFORMATION; it is defined here. The system
// documents the records in 32-bit words: on x86 they have those sizes, on x64 every pointer and
// KAFFINITY is 64 bits wide.
#pragma once

#include <ntddk.h>
#include <parallel.h>

// What a connect-interrupt request returns.
typedef struct _PARALLEL_INTERRUPT_INFORMATION {
    PKINTERRUPT InterruptObject;
    PPARALLEL_TRY_ALLOCATE_ROUTINE TryAllocatePortAtInterruptLevel;
    PPARALLEL_FREE_ROUTINE FreePortFromInterruptLevel;
    PVOID Context;
} PARALLEL_INTERRUPT_INFORMATION, *PPARALLEL_INTERRUPT_INFORMATION;

#if defined(_X86_)
static_assert(sizeof(PARALLEL_PORT_INFORMATION) == 32, "PARALLEL_PORT_INFORMATION is 32 bytes on x86");
static_assert(sizeof(MORE_PARALLEL_PORT_INFORMATION) == 24, "MORE_PARALLEL_PORT_INFORMATION is 24 bytes on x86");
static_assert(sizeof(PARALLEL_INTERRUPT_SERVICE_ROUTINE) == 16, "PARALLEL_INTERRUPT_SERVICE_ROUTINE is 16 bytes on x86");
static_assert(sizeof(PARALLEL_INTERRUPT_INFORMATION) == 16, "PARALLEL_INTERRUPT_INFORMATION is 16 bytes on x86");
#elif defined(_AMD64_)
static_assert(sizeof(PARALLEL_PORT_INFORMATION) == 56, "PARALLEL_PORT_INFORMATION is 56 bytes on x64");
static_assert(sizeof(MORE_PARALLEL_PORT_INFORMATION) == 32, "MORE_PARALLEL_PORT_INFORMATION is 32 bytes on x64");
static_assert(sizeof(PARALLEL_INTERRUPT_SERVICE_ROUTINE) == 32, "PARALLEL_INTERRUPT_SERVICE_ROUTINE is 32 bytes on x64");
static_assert(sizeof(PARALLEL_INTERRUPT_INFORMATION) == 32, "PARALLEL_INTERRUPT_INFORMATION is 32 bytes on x64");
#endif
