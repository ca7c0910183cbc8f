#include "ui/service_prompts.h"

#include "data/registry_paths.h"
#include "data/results.h"
#include "data/service_control.h"
#include "resource.h"

void RestartServicesWithWaitWindow()
{
    HWND wait = CreateDialogParamA(ToolInstance, MAKEINTRESOURCEA(IDD_WAIT), nullptr, nullptr, 0);
    if (wait) {
        ShowWindow(wait, SW_SHOW);
        UpdateWindow(wait);
    }
    ControlServices(kFullRestartFlag);
    if (wait) DestroyWindow(wait);
}

void AskForReboot(HWND owner)
{
    if (MessageBoxA(owner, "Your computer needs to be rebooted.\nReboot now ?", kToolCaption,
                    MB_YESNO | MB_ICONWARNING) == IDYES)
        RebootSystem();
}
