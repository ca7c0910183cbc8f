// What the tool shows around the driver services: the wait window during the start-up restart,
// and the reboot question.
#pragma once

#include <windows.h>

// Full restart of every driver service, with "Please wait for services" on the screen meanwhile.
void RestartServicesWithWaitWindow();

// "Your computer needs to be rebooted.\nReboot now ?"; Yes reboots.
void AskForReboot(HWND owner);
