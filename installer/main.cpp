#include "installer.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    try {
        return RunInstallerProgram(instance, commandLine);
    } catch (...) {
        return kSystemError;  // no memory even for the window
    }
}
