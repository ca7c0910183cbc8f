// Loading a port's settings into the context and storing them back: the values of the port's
// device key and the line format in the profile section "Ports".
#pragma once

#include "page_context.h"

// 1 when the port's key, its PortName and its profile entry could be read.
int LoadPortSettings(PortPageContext* context);
// Reads the profile entry "<port name>:" of section "Ports" into the line settings; 0 when the
// entry exists but is empty.
int ReadProfileEntry(PortPageContext* context);
// Writes everything back; the first failing step is reported with its code (1-8) in a message box.
// True when everything was written.
bool StorePortSettings(PortPageContext* context);

extern HINSTANCE ProviderInstance;
