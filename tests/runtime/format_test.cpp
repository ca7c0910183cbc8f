// The project's formatter against the C library's (mingw-w64's C99 printf, which the product code
// used before): the same text and the same length for every conversion the formatter knows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "runtime/format.h"

namespace {

template <class... Args>
void ExpectLikeTheCLibrary(const char* format, Args... args)
{
    char ours[64], theirs[64];
    std::memset(ours, 'x', sizeof ours);
    const int ourLength = kt::Format(ours, sizeof ours, format, args...);
    const int theirLength = std::snprintf(theirs, sizeof theirs, format, args...);
    EXPECT_STREQ(theirs, ours) << format;
    EXPECT_EQ(theirLength, ourLength) << format;
}

TEST(Format, IntegersAsTheCLibraryFormatsThem)
{
    const char* const formats[] = {"%d",   "%i",    "%5d",   "%-5d|", "%05d", "%+d",   "% d",    "%.3d",
                                   "%.0d", "%8.3d", "%-8.3d|", "%+05d", "%u",  "%x",    "%X",     "%#x",
                                   "%#X",  "%o",    "%#o",   "%.0o",  "%.0u", "%08x",  "%#08x",  "%-#8x|",
                                   "%hd",  "%hhd",  "%hu",   "%hhu",  "%c",   "%3c|",  "%-3c|",  "%%%d%%",
                                   "%08.3d", "%-08d|", "%#-8o|"};
    const int values[] = {0, 1, -1, 7, 42, -42, 65, 123456, -2147483647 - 1, 2147483647};
    for (const char* format : formats)
        for (int value : values) ExpectLikeTheCLibrary(format, value);
    for (long value : {0L, -5L, 2147483647L}) {
        ExpectLikeTheCLibrary("%ld", value);
        ExpectLikeTheCLibrary("%lu|%lx", static_cast<unsigned long>(value), static_cast<unsigned long>(value));
    }
    ExpectLikeTheCLibrary("%lld %llu", -1234567890123LL, 18446744073709551615ULL);
    ExpectLikeTheCLibrary("%zu %jd %td", static_cast<size_t>(12345), static_cast<intmax_t>(-9),
                          static_cast<ptrdiff_t>(-3));
    ExpectLikeTheCLibrary("%*d|%-*d|%*d|%.*d|%.*d", 6, 42, 6, 42, -6, 42, 4, 42, -4, 42);
    ExpectLikeTheCLibrary("%.*d|%.*d|%.*x", -1, 0, 0, 0, -3, 0);
    ExpectLikeTheCLibrary("%u.%03d", 3u, 125);
    // Where mingw-w64's printf leaves C99 (an alternate octal zero of no precision is "0"), C99.
    char text[8];
    kt::Format(text, sizeof text, "%#.0o|%#.0x", 0u, 0u);
    EXPECT_STREQ("0|", text);
}

TEST(Format, StringsAndCharactersAsTheCLibraryFormatsThem)
{
    ExpectLikeTheCLibrary("%s|%10s|%-10s|%.2s|%.*s", "hello", "hi", "hi", "hello", 3, "abcdef");
    ExpectLikeTheCLibrary("%s\\%s", "SYSTEM", "Enum");
    ExpectLikeTheCLibrary("%ls:%lc", L"COM1", static_cast<wint_t>(L'x'));
    ExpectLikeTheCLibrary("%s", "");

    wchar_t ours[64], theirs[64];
    const wchar_t* wide = L"%ld,%lc,%d,%ls,%lc|%u|%5ls|%s";
    const int ourLength = kt::Format(ours, 64, wide, 9600L, static_cast<wint_t>(L'N'), 8, L"1.5",
                                     static_cast<wint_t>(L'X'), 115200u, L"ab", "narrow");
    const int theirLength = std::swprintf(theirs, 64, wide, 9600L, static_cast<wint_t>(L'N'), 8, L"1.5",
                                          static_cast<wint_t>(L'X'), 115200u, L"ab", "narrow");
    EXPECT_EQ(std::wstring(theirs), std::wstring(ours));
    EXPECT_EQ(theirLength, ourLength);
}

TEST(Format, CutsAtTheBufferAndSaysHowLongTheTextWas)
{
    char text[4];
    EXPECT_EQ(6, kt::Format(text, sizeof text, "%d", 123456));
    EXPECT_STREQ("123", text);
    EXPECT_EQ(11, kt::Format(text, sizeof text, "%s", "hello world"));
    EXPECT_STREQ("hel", text);
    char untouched = 'u';
    EXPECT_EQ(2, kt::Format(&untouched, 0, "%d", 42)) << "no room: nothing written";
    EXPECT_EQ('u', untouched);
    wchar_t wide[3];
    EXPECT_EQ(5, kt::Format(wide, 3, L"%ls", L"COM10"));
    EXPECT_EQ(std::wstring(L"CO"), std::wstring(wide));
}

TEST(Format, ConversionsItDoesNotKnowAreCopiedAndTakeNoArgument)
{
    char text[64];
    // %n would write through a pointer; %f and %p are not the project's: copied as they stand.
    const char* unknown = "%n%f%p%d";
    EXPECT_EQ(7, kt::Format(text, sizeof text, unknown, 7));
    EXPECT_STREQ("%n%f%p7", text);
    const char* lastPercent = "100%";
    kt::Format(text, sizeof text, lastPercent);
    EXPECT_STREQ("100%", text);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-overflow"
    kt::Format(text, sizeof text, "%s", static_cast<const char*>(nullptr));
#pragma GCC diagnostic pop
    EXPECT_STREQ("(null)", text);
}

}  // namespace
