#include "ui/port_ranges.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "data/port_maps.h"
#include "runtime/format.h"

namespace {

constexpr int kRangeFactor = 1000;

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Like atoi, but a number too large for an int stays at the largest one instead of overflowing.
int ReadNumber(const char* text, const char* end)
{
    while (text < end && IsSpace(*text)) ++text;
    bool negative = false;
    if (text < end && (*text == '+' || *text == '-')) negative = *text++ == '-';
    long long value = 0;
    for (; text < end && *text >= '0' && *text <= '9'; ++text)
        value = std::min<long long>(value * 10 + (*text - '0'), INT_MAX);
    return static_cast<int>(negative ? -value : value);
}

}  // namespace

int ReservedRuns(const uint8_t* map, PortRun* runs)
{
    int count = 0;
    int first = 0;
    for (int number = 1; number <= kMaxPortNumber + 1; ++number) {
        const bool reserved = IsPortReserved(map, number) != 0;  // 257 never is
        if (reserved && !first) first = number;
        if (!reserved && first) {
            runs[count++] = {first, number - 1};
            first = 0;
        }
    }
    return count;
}

int LineValue(const PortRun& run)
{
    return run.first == run.last ? run.first : run.first * kRangeFactor + run.last;
}

void LineText(const char* prefix, const PortRun& run, char* text, std::size_t textChars)
{
    if (run.first == run.last)
        kt::Format(text, textChars, "%s%i", prefix, run.first);
    else
        kt::Format(text, textChars, "%s%i - %s%i", prefix, run.first, prefix, run.last);
}

PortRun ParseTypedRange(const char* text)
{
    const char* end = text + std::strlen(text);
    const char* hyphen = std::strchr(text, '-');
    if (!hyphen) {
        const int number = ReadNumber(text, end);
        return {number, number};
    }
    return {ReadNumber(text, hyphen), ReadNumber(hyphen + 1, end)};
}

void ApplyRange(uint8_t* map, const PortRun& range, bool add)
{
    const int first = std::max(range.first, 1);
    const int last = std::min(range.last, kMaxPortNumber);
    for (int number = first; number <= last; ++number) add ? ReservePort(map, number) : ReleasePort(map, number);
}

void ReleaseLine(uint8_t* map, int value)
{
    if (value >= kRangeFactor)
        ApplyRange(map, {value / kRangeFactor, value % kRangeFactor}, false);
    else
        ReleasePort(map, value);
}
