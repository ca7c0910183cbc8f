// A DLL with the faults pecheck looks for: a function from a later Windows, implicit thread-local
// data (where __declspec(thread) puts it), a subsystem version above the floor (linker options).
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetTickCount64
#include <windows.h>

__attribute__((section(".tls$AAB"))) int threadData = 1;

__declspec(dllexport) ULONGLONG Ticks(void)
{
    return GetTickCount64() + threadData;
}
