// Facts the driver package records about itself in the enumerator key: date, provider, version,
// the four driver service names, its file list (DRIVERLIST) and the known error texts (KNOWNERRORS).
#pragma once

#include <cstddef>
#include <vector>

#include "data/inventory.h"

struct DriverInfoRecord {
    char Date[kTextChars];
    char Provider[kTextChars];
    char Version[kTextChars];
    char EnumService[kTextChars];     // bus enumerator
    char SerService[kTextChars];      // serial port driver
    char ParService[kTextChars];      // parallel port driver
    char ParMiniService[kTextChars];  // parallel mini driver
};

struct DriverListEntry {
    char name[kTextChars];  // a file of the package
};

extern DriverInfoRecord DriverInfo;
extern std::vector<DriverListEntry> DriverList;

// Reads DriverInfo and DriverList. Missing service names are only warned about. 1, or -1 when the
// enumerator key or DRIVERLIST cannot be opened (what was read before stays).
int GetDriverInfo();

// Copies the KNOWNERRORS description of number into text (cut to fit). 1; -3 when no description
// is stored; -1 (text prepared, not shown) when KNOWNERRORS cannot be opened.
int GetErrorDesc(int number, char* text, std::size_t textChars);
