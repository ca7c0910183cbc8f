// Makes RegSetKeySecurity, as one module calls it, refuse DACL writes: every one, or only those
// that put back a DACL without an entry for the current user (the restores after a grant). For
// tests of what callers do when access cannot be changed or given back.
#pragma once

#include <windows.h>

#include <climits>

class DaclRefusal {
public:
    enum class Writes { All, Restores };
    // Refuses the first `count` matching writes, with ERROR_ACCESS_DENIED.
    DaclRefusal(HMODULE module, Writes which, int count = INT_MAX);
    ~DaclRefusal();
    DaclRefusal(const DaclRefusal&) = delete;
    DaclRefusal& operator=(const DaclRefusal&) = delete;

    int Refused() const;  // writes refused so far

private:
    HMODULE module_;
    void* original_;
};
