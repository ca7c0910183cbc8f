// The tool's entry points and its process-wide start-up state.
#pragma once

#include <windows.h>

// "KTCFGMessage": a second start broadcasts it; the running main window comes to the front.
extern UINT ToolMessage;

// What the library does when it is loaded: registers the tool message (FALSE when that fails),
// then, the first time only, keeps the module and loads the registry paths.
BOOL InitializeTool(HINSTANCE instance);

// The single-instance guard: the global atom "KTCFGAtom", which other programs may look for, and
// a mutex that tells whether the instance holding the atom is still alive. TakeToolInstance is
// false while a live instance runs (in this process or another); an instance that died without
// releasing is taken over.
bool TakeToolInstance();
void ReleaseToolInstance();

// Registers the common control classes the tool uses. InitCommonControlsEx came with comctl32
// 4.70; where the system's comctl32 lacks it (NT 4.0 as shipped has 4.00) or it fails,
// InitCommonControls registers them all.
void InitToolControls();

extern "C" LONG WINAPI StartCfgNt();
extern "C" LONG APIENTRY CPlApplet(HWND controlPanel, UINT message, LPARAM param1, LPARAM param2);
