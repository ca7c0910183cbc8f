// Replaces a function that a loaded module imports, in that module's import address table only:
// a test can count or fail the calls one library makes without touching anyone else's.
#pragma once

#include <windows.h>

// Returns the function it replaced, or nullptr when the module does not import it. Hooking a
// function twice with the same replacement returns the replacement itself.
void* HookImport(HMODULE module, const char* dll, const char* function, void* replacement);
