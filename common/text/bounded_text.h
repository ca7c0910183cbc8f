// Bounded copies into the fixed text buffers the system uses (260 for paths, 100 for registry
// texts). A text that does not fit is cut at the buffer's last character; the result is always
// terminated.
#pragma once

#include <cstddef>
#include <cstdarg>

#include "runtime/format.h"

namespace kt {

template <class Char>
inline void CopyText(Char* dst, std::size_t dstChars, const Char* src)
{
    if (dstChars == 0) return;
    std::size_t i = 0;
    if (src)
        for (; i + 1 < dstChars && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

template <class Char, std::size_t N>
inline void CopyText(Char (&dst)[N], const Char* src)
{
    CopyText(dst, N, src);
}

// snprintf into a fixed array; returns false when the text had to be cut.
template <std::size_t N>
inline bool FormatText(char (&dst)[N], const char* format, ...) __attribute__((format(printf, 2, 3)));

template <std::size_t N>
inline bool FormatText(char (&dst)[N], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = kt::FormatV(dst, N, format, args);
    va_end(args);
    return n >= 0 && static_cast<std::size_t>(n) < N;
}

}  // namespace kt
