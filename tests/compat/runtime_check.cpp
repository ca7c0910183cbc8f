// The deliverables replace the C++ runtime's container errors (common/runtime). A container that
// is asked for too much must still throw, with the runtime's message, to a catch of
// std::exception. Built with the replacements and nothing else, so no test framework's own calls
// pull the runtime's versions back in.
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

int Expect(const char* expected, void (*call)())
{
    try {
        call();
    } catch (const std::exception& error) {
        if (std::strstr(error.what(), expected)) return 0;
        std::printf("expected \"%s\", the message was \"%s\"\n", expected, error.what());
        return 1;
    }
    std::printf("expected \"%s\", nothing was thrown\n", expected);
    return 1;
}

}  // namespace

int main()
{
    int failures = 0;
    failures += Expect("basic_string::substr: __pos (which is 3) > this->size() (which is 2)",
                       [] { (void)std::wstring(L"ab").substr(3); });
    failures += Expect("vector::reserve", [] {
        std::vector<int> numbers;
        numbers.reserve(numbers.max_size() + 1);
    });
    failures += Expect("basic_string::_M_create", [] {
        std::string text;
        text.reserve(text.max_size() + 1);
    });
    failures += Expect("std::bad_alloc", [] {
        std::allocator<int> allocator;
        (void)allocator.allocate(std::allocator_traits<std::allocator<int>>::max_size(allocator) + 1);
    });
    failures += Expect("std::bad_array_new_length", [] { (void)std::allocator<int>().allocate(SIZE_MAX); });
    if (!failures) std::printf("every container error was thrown with its message\n");
    return failures;
}
