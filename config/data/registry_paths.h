// The tool's registry paths, loaded once from its string table when the library is loaded.
#pragma once

#include <windows.h>

constexpr int kRegPathChars = 264;  // buffer size; at most 260 characters are loaded

extern char EnumeratorPath[kRegPathChars];   // HKLM: the bus enumerator's tree
extern char RunKeyPath[kRegPathChars];       // HKCU: per-user Run key
extern char ProductKeyPath[kRegPathChars];   // HKLM: the product key
extern char SerialMapPath[kRegPathChars];    // HKLM: the system's serial device map
extern char ParallelMapPath[kRegPathChars];  // HKLM: the system's parallel device map

// Module every resource of the tool is loaded from.
extern HINSTANCE ToolInstance;

// Loads string id of the tool into buffer (at most 260 characters). When the string cannot be
// loaded the buffer stays empty and "Loading string resource failed" is shown.
void LoadResString(char* buffer, UINT id);

// Fills the five path buffers from ToolInstance, in the order 3, 4, 6, 7, 5.
void LoadRegistryPaths();
