#include "data/registry_readers.h"

#include <cstring>
#include <vector>

#include "text/bounded_text.h"

int GetDwordValue(const char* name, HKEY key, DWORD* out)
{
    return QueryDwordValue(name, key, out) == ERROR_SUCCESS ? 1 : 0;
}

LONG QueryDwordValue(const char* name, HKEY key, DWORD* out)
{
    bool found = false;
    const LONG rc = ForEachValue(key, sizeof(DWORD), [&](const EnumeratedValue& value) {
        if (std::strcmp(value.name, name) != 0) return false;
        std::memcpy(out, value.data, sizeof(DWORD));
        found = true;
        return true;
    });
    return found ? ERROR_SUCCESS : rc ? rc : ERROR_FILE_NOT_FOUND;
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

void ReadValues(HKEY key, WantedValue* wanted, std::size_t count)
{
    std::size_t left = count;
    for (std::size_t i = 0; i < count; ++i) wanted[i].found = false;
    ForEachValue(key, kStringDataBytes, [&](const EnumeratedValue& value) {
        for (std::size_t i = 0; i < count; ++i) {
            WantedValue& w = wanted[i];
            if (w.found || std::strcmp(value.name, w.name) != 0) continue;
            if (w.kind == WantedValue::Dword) {
                if (value.size > sizeof(DWORD)) return false;  // would not fit: missing, as by name
                std::memcpy(w.out, value.data, sizeof(DWORD));
            } else {
                kt::CopyText(static_cast<char*>(w.out), w.textChars, reinterpret_cast<const char*>(value.data));
            }
            w.found = true;
            return --left == 0;
        }
        return false;
    });
}

int GetFixedValue(const char* name, HKEY key, void* buffer, DWORD length)
{
    return QueryFixedValue(name, key, buffer, length) == ERROR_SUCCESS ? 1 : 0;
}

LONG QueryFixedValue(const char* name, HKEY key, void* buffer, DWORD length)
{
    std::vector<BYTE> data(length);
    DWORD size = length;
    const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &size);
    if (rc == ERROR_SUCCESS) std::memcpy(buffer, data.data(), length);
    return rc;
}
