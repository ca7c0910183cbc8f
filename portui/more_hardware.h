// The "More Hardware Settings" dialog: EnableCks and the clock options of the 16950 (CKS).
#pragma once

#include "page_context.h"

// The clock options as the stored CKS byte holds them, into the context.
void DecodeClockOptions(PortPageContext* context);

// Warns, and on Yes runs the dialog modally, owned by page. Nothing is written here: the values
// reach the registry when the sheet applies.
void RunMoreHardwareSettings(HWND page, PortPageContext* context);
