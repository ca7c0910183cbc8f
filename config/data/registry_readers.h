// Readers for the values of an open key. Value names are matched case-sensitively, byte for byte:
// the tool enumerates the values instead of querying them by name.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr DWORD kValueNameChars = 261;   // value-name buffer of every enumeration
constexpr DWORD kStringDataBytes = 261;  // data buffer of GetStringValue
constexpr DWORD kMaxDataBytes = 261;     // largest data buffer any enumeration uses

// One value as the enumeration delivered it. data is zero-filled beyond size and always followed
// by a terminating zero, so a text value can be read as a C string.
struct EnumeratedValue {
    const char* name;
    const BYTE* data;
    DWORD size;
    DWORD type;
};

// Calls visit(value) for each value of key, by index from 0, with a name buffer of
// kValueNameChars and a data buffer of dataBytes (at most kMaxDataBytes). A value whose name or
// data does not fit is skipped. visit returns true to stop. The walk ends at the last value, and
// also when the key can no longer be enumerated at all: then the result is the enumeration's
// error, else ERROR_SUCCESS.
template <class Visit>
LONG ForEachValue(HKEY key, DWORD dataBytes, Visit visit);

// Calls visit(name) for each subkey name of key that fits a 260-character buffer, by index from 0;
// visit returns true to stop.
template <class Visit>
void ForEachSubkey(HKEY key, Visit visit);

// 1 and the first four data bytes (zero-extended when shorter) of the value name; 0 when the key
// has no value of that exact name whose data fits four bytes. The value's type is ignored.
int GetDwordValue(const char* name, HKEY key, DWORD* out);
// The same, telling a missing value (ERROR_FILE_NOT_FOUND) from values that could not be read.
LONG QueryDwordValue(const char* name, HKEY key, DWORD* out);

// 1 and the value's data as a terminated text (cut to textChars - 1 characters); 0 when missing
// or longer than kStringDataBytes.
int GetStringValue(const char* name, HKEY key, char* text, std::size_t textChars);

template <std::size_t N>
int GetStringValue(const char* name, HKEY key, char (&text)[N])
{
    return GetStringValue(name, key, text, N);
}

// One value that a single pass over a key's values looks for.
struct WantedValue {
    enum Kind { Dword, Text };
    const char* name;
    Kind kind;
    void* out;              // DWORD* or char*
    std::size_t textChars;  // for Text
    bool found;
};

// Fills every wanted value in one enumeration of key's values, by the rules of GetDwordValue and
// GetStringValue: the value whose name matches byte for byte, data that fits (four bytes for a
// DWORD, kStringDataBytes for a text), the type ignored. Stops as soon as all are found.
void ReadValues(HKEY key, WantedValue* wanted, std::size_t count);

template <std::size_t N>
void ReadValues(HKEY key, WantedValue (&wanted)[N])
{
    ReadValues(key, wanted, N);
}

// Queries the value by name into length bytes. 1 on success (bytes beyond a shorter stored
// value read as zero); 0 when missing or longer than length.
int GetFixedValue(const char* name, HKEY key, void* buffer, DWORD length);
// The same with the query's error: ERROR_FILE_NOT_FOUND or ERROR_MORE_DATA for a value that is
// missing or too long, others for one that could not be read.
LONG QueryFixedValue(const char* name, HKEY key, void* buffer, DWORD length);

// Implementation of the walks.

template <class Visit>
LONG ForEachValue(HKEY key, DWORD dataBytes, Visit visit)
{
    if (dataBytes > kMaxDataBytes) dataBytes = kMaxDataBytes;
    char name[kValueNameChars + 1];
    BYTE data[kMaxDataBytes + 1];
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = kValueNameChars;
        DWORD size = dataBytes;
        DWORD type = 0;
        ZeroMemory(data, sizeof data);
        LONG rc = RegEnumValueA(key, index, name, &nameChars, nullptr, &type, data, &size);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return rc;
        name[nameChars < kValueNameChars ? nameChars : kValueNameChars] = 0;
        if (visit(EnumeratedValue{name, data, size, type})) return ERROR_SUCCESS;
    }
}

template <class Visit>
void ForEachSubkey(HKEY key, Visit visit)
{
    char name[261];
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = 260;
        LONG rc = RegEnumKeyExA(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return;
        name[nameChars < 260 ? nameChars : 260] = 0;
        if (visit(static_cast<const char*>(name))) return;
    }
}
