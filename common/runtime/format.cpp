// The project's bounded formatter (format.h). Plain C++ without Windows: it is also compiled
// natively, tested against the C library and fuzzed.
#include "format.h"

#include <climits>
#include <cstdint>
#include <cwchar>
#include <type_traits>

namespace kt {
namespace {

// The arguments, in a structure: a va_list is an array on some machines and cannot be passed on
// by reference itself.
struct Arguments {
    va_list list;
};

template <class Char>
class Output {
public:
    Output(Char* out, std::size_t chars) : out_(out), chars_(chars) {}
    // Terminates the text; returns the length the whole text has.
    int Finish()
    {
        if (chars_) out_[length_ < chars_ ? length_ : chars_ - 1] = 0;
        return static_cast<int>(length_);
    }
    void Put(unsigned c)
    {
        if (length_ + 1 < chars_) out_[length_] = static_cast<Char>(c);
        ++length_;
    }
    void Repeat(unsigned c, int count)
    {
        for (int i = 0; i < count; ++i) Put(c);
    }

private:
    Char* out_;
    std::size_t chars_;
    std::size_t length_ = 0;
};

struct Spec {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    int width = 0;
    int precision = -1;  // none
    enum { kNone, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrdiff } length = kNone;
};

// A narrow character as the output's character; a wide one in a narrow text becomes '?' above 0xFF.
template <class Char>
unsigned Converted(unsigned c)
{
    return sizeof(Char) == 1 && c > 0xFF ? '?' : c;
}

// Puts length characters that body writes, padded to the width: spaces, or zeros after what comes
// before the digits (body is given the number of zeros).
template <class Char, class Body>
void PutPadded(Output<Char>& out, const Spec& spec, int length, bool zeros, Body&& body)
{
    const int padding = spec.width > length ? spec.width - length : 0;
    if (!spec.left && !zeros) out.Repeat(' ', padding);
    body(zeros ? padding : 0);
    if (spec.left) out.Repeat(' ', padding);
}

template <class Char>
void PutInteger(Output<Char>& out, const Spec& spec, char conversion, std::uintmax_t magnitude, bool negative)
{
    const unsigned base = conversion == 'o' ? 8 : conversion == 'x' || conversion == 'X' ? 16 : 10;
    const char* digits = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char text[32];
    int count = 0;
    for (std::uintmax_t v = magnitude; v; v /= base) text[count++] = digits[v % base];
    int precision = spec.precision < 0 ? 1 : spec.precision;
    if (conversion == 'o' && spec.alternate && precision <= count) precision = count + 1;
    const int zeros = precision > count ? precision - count : 0;
    const bool isSigned = conversion == 'd' || conversion == 'i';
    const char sign = negative ? '-' : isSigned && spec.plus ? '+' : isSigned && spec.space ? ' ' : 0;
    const bool hexPrefix = base == 16 && spec.alternate && magnitude != 0;
    const int length = count + zeros + (sign ? 1 : 0) + (hexPrefix ? 2 : 0);
    PutPadded(out, spec, length, spec.zero && !spec.left && spec.precision < 0, [&](int padZeros) {
        if (sign) out.Put(sign);
        if (hexPrefix) {
            out.Put('0');
            out.Put(conversion);
        }
        out.Repeat('0', padZeros + zeros);
        while (count) out.Put(static_cast<unsigned char>(text[--count]));
    });
}

template <class Char, class Source>
void PutString(Output<Char>& out, const Spec& spec, const Source* text)
{
    static const Source kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    if (!text) text = kNull;
    int length = 0;
    while (text[length] && (spec.precision < 0 || length < spec.precision)) ++length;
    PutPadded(out, spec, length, false, [&](int) {
        for (int i = 0; i < length; ++i)
            out.Put(Converted<Char>(static_cast<std::make_unsigned_t<Source>>(text[i])));
    });
}

template <class Char>
int Digits(const Char*& p)
{
    int value = 0;
    while (*p >= '0' && *p <= '9') value = value < 100000 ? value * 10 + (*p++ - '0') : (++p, value);
    return value;
}

// Reads one conversion after its '%'; false when it is none the formatter knows.
template <class Char>
bool ReadSpec(const Char*& p, Spec& spec, Arguments& args)
{
    for (;; ++p) {
        if (*p == '-') spec.left = true;
        else if (*p == '+') spec.plus = true;
        else if (*p == ' ') spec.space = true;
        else if (*p == '#') spec.alternate = true;
        else if (*p == '0') spec.zero = true;
        else break;
    }
    if (*p == '*') {
        ++p;
        spec.width = va_arg(args.list, int);
        if (spec.width < 0) {
            spec.left = true;
            spec.width = spec.width == INT_MIN ? 0 : -spec.width;
        }
    } else {
        spec.width = Digits(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
            spec.precision = va_arg(args.list, int);
            if (spec.precision < 0) spec.precision = -1;
        } else {
            spec.precision = Digits(p);
        }
    }
    if (*p == 'h') {
        ++p;
        spec.length = *p == 'h' ? (++p, Spec::kChar) : Spec::kShort;
    } else if (*p == 'l') {
        ++p;
        spec.length = *p == 'l' ? (++p, Spec::kLongLong) : Spec::kLong;
    } else if (*p == 'z') {
        ++p, spec.length = Spec::kSize;
    } else if (*p == 'j') {
        ++p, spec.length = Spec::kMax;
    } else if (*p == 't') {
        ++p, spec.length = Spec::kPtrdiff;
    }
    switch (*p) {
    case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': case 'c': case 's': case '%':
        return true;
    default:
        return false;
    }
}

std::intmax_t SignedArgument(const Spec& spec, Arguments& args)
{
    switch (spec.length) {
    case Spec::kChar: return static_cast<signed char>(va_arg(args.list, int));
    case Spec::kShort: return static_cast<short>(va_arg(args.list, int));
    case Spec::kLong: return va_arg(args.list, long);
    case Spec::kLongLong: return va_arg(args.list, long long);
    case Spec::kSize: return static_cast<std::intmax_t>(va_arg(args.list, std::size_t));
    case Spec::kMax: return va_arg(args.list, std::intmax_t);
    case Spec::kPtrdiff: return va_arg(args.list, std::ptrdiff_t);
    default: return va_arg(args.list, int);
    }
}

std::uintmax_t UnsignedArgument(const Spec& spec, Arguments& args)
{
    switch (spec.length) {
    case Spec::kChar: return static_cast<unsigned char>(va_arg(args.list, unsigned));
    case Spec::kShort: return static_cast<unsigned short>(va_arg(args.list, unsigned));
    case Spec::kLong: return va_arg(args.list, unsigned long);
    case Spec::kLongLong: return va_arg(args.list, unsigned long long);
    case Spec::kSize: return va_arg(args.list, std::size_t);
    case Spec::kMax: return va_arg(args.list, std::uintmax_t);
    case Spec::kPtrdiff: return static_cast<std::uintmax_t>(va_arg(args.list, std::ptrdiff_t));
    default: return va_arg(args.list, unsigned);
    }
}

template <class Char>
int Run(Char* out, std::size_t chars, const Char* format, Arguments& args)
{
    Output<Char> output(out, chars);
    for (const Char* p = format; *p; ++p) {
        if (*p != '%') {
            output.Put(static_cast<std::make_unsigned_t<Char>>(*p));
            continue;
        }
        const Char* start = p++;
        Spec spec;
        if (!ReadSpec(p, spec, args)) {
            // Not a conversion we know: as it stands, and the text goes on after it.
            for (const Char* q = start; q < p; ++q) output.Put(static_cast<std::make_unsigned_t<Char>>(*q));
            if (!*p) break;
            output.Put(static_cast<std::make_unsigned_t<Char>>(*p));
            continue;
        }
        switch (*p) {
        case '%':
            output.Put('%');
            break;
        case 'd': case 'i': {
            const std::intmax_t v = SignedArgument(spec, args);
            const std::uintmax_t magnitude = v < 0 ? 0 - static_cast<std::uintmax_t>(v) : static_cast<std::uintmax_t>(v);
            PutInteger(output, spec, static_cast<char>(*p), magnitude, v < 0);
            break;
        }
        case 'u': case 'o': case 'x': case 'X':
            PutInteger(output, spec, static_cast<char>(*p), UnsignedArgument(spec, args), false);
            break;
        case 'c': {
            // Both kinds of character come promoted to int.
            const int promoted = va_arg(args.list, int);
            const unsigned c = spec.length == Spec::kLong ? static_cast<unsigned>(static_cast<std::wint_t>(promoted))
                                                          : static_cast<unsigned char>(promoted);
            PutPadded(output, spec, 1, false, [&](int) { output.Put(Converted<Char>(c)); });
            break;
        }
        case 's':
            if (spec.length == Spec::kLong) PutString(output, spec, va_arg(args.list, const wchar_t*));
            else PutString(output, spec, va_arg(args.list, const char*));
            break;
        }
    }
    return output.Finish();
}

}  // namespace

int FormatV(char* out, std::size_t chars, const char* format, va_list args)
{
    Arguments copy;
    va_copy(copy.list, args);
    const int n = Run(out, chars, format, copy);
    va_end(copy.list);
    return n;
}

int FormatV(wchar_t* out, std::size_t chars, const wchar_t* format, va_list args)
{
    Arguments copy;
    va_copy(copy.list, args);
    const int n = Run(out, chars, format, copy);
    va_end(copy.list);
    return n;
}

int Format(char* out, std::size_t chars, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = FormatV(out, chars, format, args);
    va_end(args);
    return n;
}

int Format(wchar_t* out, std::size_t chars, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = FormatV(out, chars, format, args);
    va_end(args);
    return n;
}

}  // namespace kt
