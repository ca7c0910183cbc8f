// Numbers typed into the pages' edit boxes, in 8-bit and UTF-16 text, with every length limit.
#include <cstddef>
#include <cstdint>
#include <string>

#include "number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const size_t limit = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    bool found = false;
    LeadingDecimal(text.c_str(), limit);
    LeadingInteger(text.c_str(), limit, found);
    const std::wstring wide(text.begin(), text.end());
    LeadingDecimal(wide.c_str(), limit);
    return 0;
}
