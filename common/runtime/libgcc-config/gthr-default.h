// The win32 thread model, as the deliverables' compilers use it.
#include "config/i386/gthr-win32.h"
