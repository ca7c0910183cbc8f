// The profile line format of a serial port ("9600,n,8,1"): what is read is written back readable.
#include <cstddef>
#include <cstdint>
#include <string>

#include "line_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    const LineSettings read = ParseLineSettings(text);
    const LineSettings again = ParseLineSettings(FormatLineSettings(read));
    if (again.baudRate != read.baudRate || again.parity != read.parity || again.flowControl != read.flowControl)
        __builtin_trap();
    return 0;
}
