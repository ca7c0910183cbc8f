// The unwinder's fallback for frames without unwind information on Windows.
#include "config/i386/w32-unwind.h"
