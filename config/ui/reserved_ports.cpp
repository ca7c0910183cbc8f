#include "ui/reserved_ports.h"

void ShowReservedPortsDialog(HWND)
{
}
