#include "ui/applet.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    return reason == DLL_PROCESS_ATTACH ? InitializeTool(instance) : TRUE;
}
