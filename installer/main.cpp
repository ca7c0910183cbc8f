#include "installer.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return RunInstallerProgram(instance, commandLine);
}
