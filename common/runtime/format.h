// Bounded formatting of the project's own texts, narrow and wide, in place of the C library's
// snprintf and swprintf (see README.md in this folder for why).
//
// The conversions are the C99 ones the texts use: d i u o x X c s and %%, with the flags - + space
// # 0, a width and a precision (digits or *), and the length modifiers hh h l ll z j t. They give
// what C99 gives, byte for byte: in both kinds of text %s and %c take a narrow string or character,
// %ls and %lc a wide one (in a narrow text a wide character above 0xFF becomes '?', where the C
// library's conversion would fail). Any other conversion is copied as it stands and takes no
// argument.
//
// The output is always terminated (when chars > 0) and cut at chars - 1 characters. The result is
// the length the whole text has, as with snprintf; a result of chars or more means it was cut.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace kt {

int FormatV(char* out, std::size_t chars, const char* format, va_list args);
int FormatV(wchar_t* out, std::size_t chars, const wchar_t* format, va_list args);

int Format(char* out, std::size_t chars, const char* format, ...) __attribute__((format(printf, 3, 4)));
int Format(wchar_t* out, std::size_t chars, const wchar_t* format, ...);

}  // namespace kt
