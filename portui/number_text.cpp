#include "number_text.h"

#include <cstdint>
#include <string>

namespace {

int DigitValue(int c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value >= 0 && value < base ? value : -1;
}

template <class Char>
int32_t Parse(const Char* text, std::size_t maxChars, bool autoBase, bool& found)
{
    found = false;
    std::size_t i = 0;
    const auto at = [&](std::size_t k) -> int { return k < maxChars && text[k] ? static_cast<int>(text[k]) : 0; };
    while (at(i) == ' ' || at(i) == '\t' || at(i) == '\n' || at(i) == '\r') ++i;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') negative = at(i++) == '-';
    int base = 10;
    if (autoBase && at(i) == '0') {
        if ((at(i + 1) == 'x' || at(i + 1) == 'X') && DigitValue(at(i + 2), 16) >= 0) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    int64_t value = 0;
    for (int digit; (digit = DigitValue(at(i), base)) >= 0; ++i) {
        found = true;
        if (value <= INT64_C(0x100000000)) value = value * base + digit;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t LeadingDecimal(const char* text, std::size_t maxChars)
{
    bool found;
    return Parse(text, maxChars, false, found);
}

int32_t LeadingDecimal(const wchar_t* text, std::size_t maxChars)
{
    bool found;
    return Parse(text, maxChars, false, found);
}

int32_t LeadingInteger(const char* text, std::size_t maxChars, bool& found)
{
    return Parse(text, maxChars, true, found);
}
