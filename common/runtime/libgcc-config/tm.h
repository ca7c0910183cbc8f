// The one target macro the unwinder takes from the compiler's headers that -fbuilding-libgcc does
// not predefine: on i386 a DWARF register is its own unwind column.
#pragma once
#define DWARF_REG_TO_UNWIND_COLUMN(REGNO) (REGNO)
