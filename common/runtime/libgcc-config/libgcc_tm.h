// No target-specific libgcc macros on i686 mingw-w64.
#pragma once
