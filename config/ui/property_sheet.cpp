#include "ui/property_sheet.h"

int ShowDevicePropertySheet(HWND, int)
{
    return 0;
}

int (*DevicePropertySheet)(HWND owner, int code) = ShowDevicePropertySheet;
