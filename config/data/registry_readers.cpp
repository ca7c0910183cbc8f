#include "data/registry_readers.h"

#include <cstring>
#include <vector>

#include "text/bounded_text.h"

int GetDwordValue(const char* name, HKEY key, DWORD* out)
{
    int found = 0;
    ForEachValue(key, sizeof(DWORD), [&](const EnumeratedValue& value) {
        if (std::strcmp(value.name, name) != 0) return false;
        std::memcpy(out, value.data, sizeof(DWORD));
        found = 1;
        return true;
    });
    return found;
}

int GetStringValue(const char* name, HKEY key, char* text, std::size_t textChars)
{
    int found = 0;
    ForEachValue(key, kStringDataBytes, [&](const EnumeratedValue& value) {
        if (std::strcmp(value.name, name) != 0) return false;
        kt::CopyText(text, textChars, reinterpret_cast<const char*>(value.data));
        found = 1;
        return true;
    });
    return found;
}

int GetFixedValue(const char* name, HKEY key, void* buffer, DWORD length)
{
    std::vector<BYTE> data(length);
    DWORD size = length;
    if (RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS) return 0;
    std::memcpy(buffer, data.data(), length);
    return 1;
}
