// libgcc's target configuration, as the compiler's own build would generate it for i686 mingw-w64:
// the compiler predefines what the unwinder needs (-fbuilding-libgcc: __LIBGCC_*__).
#pragma once
#ifndef USED_FOR_TARGET
#define USED_FOR_TARGET
#endif
