// The containers report a size or position they cannot take through these calls. The runtime's
// own versions throw std::length_error and its relatives, whose message is a reference-counted
// string; that string's code, and what it drags in (both string instantiations and the runtime's
// random-device reader), is about 90 KB of each deliverable. Defined here, they take the runtime's
// place and throw an exception with the same message in a fixed buffer. Our code catches only
// with catch (...), so nothing depends on the exact type; it is a std::exception, as the standard
// ones are. Should one of the runtime's versions still be needed for a call not defined here, the
// link fails with a duplicate definition rather than keeping both.
#include <bits/functexcept.h>

#include <cstdarg>
#include <exception>
#include <new>

#include "runtime/format.h"

namespace {

class ContainerError : public std::exception {
public:
    explicit ContainerError(const char* message) { kt::Format(message_, sizeof message_, "%s", message); }
    ContainerError(const char* format, va_list args) { kt::FormatV(message_, sizeof message_, format, args); }
    const char* what() const noexcept override { return message_; }

private:
    char message_[160];
};

}  // namespace

namespace std {

void __throw_bad_alloc()
{
    throw bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw bad_array_new_length();
}

void __throw_length_error(const char* message)
{
    throw ContainerError(message);
}

void __throw_logic_error(const char* message)
{
    throw ContainerError(message);
}

void __throw_out_of_range(const char* message)
{
    throw ContainerError(message);
}

void __throw_out_of_range_fmt(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const ContainerError error(format, args);
    va_end(args);
    throw error;
}

}  // namespace std
