// The reserved-ports dialog's view of a port map: maximal runs of reserved numbers as list lines,
// and typed numbers ("x" or "x-z") read into a range. No Windows calls here.
#pragma once

#include <cstddef>
#include <cstdint>

struct PortRun {
    int first;
    int last;
};

// At most 128 runs fit in 256 numbers.
constexpr int kMaxPortRuns = 128;

// The runs of reserved numbers in ascending order; returns their count.
int ReservedRuns(const uint8_t* map, PortRun* runs);

// The value a list line carries: n for one number, first * 1000 + last for a longer run.
int LineValue(const PortRun& run);

// "COM5" or "COM1 - COM3" with the prefix given ("COM", "LPT").
void LineText(const char* prefix, const PortRun& run, char* text, std::size_t textChars);

// Reads "x" or "x-z" as decimal integers (leading white space and a sign allowed, reading stops
// at the first other character, no digits read as 0). A first number of 0 means nothing to do.
PortRun ParseTypedRange(const char* text);

// Reserves (add) or releases every number of the range; numbers outside 1..256 change nothing.
void ApplyRange(uint8_t* map, const PortRun& range, bool add);

// Releases the numbers of the list line with value.
void ReleaseLine(uint8_t* map, int value);
