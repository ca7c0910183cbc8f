// Numbers typed into the pages' edit boxes. No Windows calls here.
#pragma once

#include <cstddef>
#include <cstdint>

// The decimal number at the start of text: leading blanks and a sign allowed, reading stops at the
// first other character, only the first maxChars characters count, no number gives 0. The result
// saturates at the limits of 32 bits.
int32_t LeadingDecimal(const char* text, std::size_t maxChars);
int32_t LeadingDecimal(const wchar_t* text, std::size_t maxChars);

// Like LeadingDecimal, with the base taken from the prefix: "0x" hexadecimal, a leading 0 octal,
// otherwise decimal. found tells whether any digit was read.
int32_t LeadingInteger(const char* text, std::size_t maxChars, bool& found);
