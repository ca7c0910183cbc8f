// Memory that runs out while the tool handles a message is said in a box, and the message ends
// there: no C++ exception may cross into the system's code that called a window procedure or
// that waits in a dialog's loop. Everything the work held is given back on the way (the key
// grants put their access lists back).
#pragma once

#include "data/results.h"

template <class Result, class Work>
Result Guarded(Result failed, Work work) noexcept
{
    try {
        return work();
    } catch (...) {
        ReportNoMemory();
        return failed;
    }
}
