// Registration of the start-up card check: the value ktcfgchk in the current user's Run key.
#pragma once

#include <windows.h>

// Exported by the tool (ordinal 4). Nonzero registers "<InstallPath>\ktcfgchk.exe reg", 0 removes
// the value. 1 success; -1 key problem; -2 the value cannot be written (also when the command
// line would be longer than 260 characters); -3 InstallPath missing; -4 the value cannot be deleted.
extern "C" LONG WINAPI MakeAutorun(LONG on);

// 1 when the Run value exists.
int IsAutorunSet();
