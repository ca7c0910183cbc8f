// An open registry key that closes itself, and the "%s\%s" path joining the tool uses.
#pragma once

#include <windows.h>

#include <cstddef>

#include "runtime/format.h"

class ScopedKey {
public:
    ScopedKey() = default;
    // The plain open call, without an explicit access mask.
    ScopedKey(HKEY root, const char* path)
    {
        if (path && RegOpenKeyA(root, path, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }
    void Close()
    {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// Forms "<path>\<name>" in joined; false (with joined cut) when it does not fit.
inline bool JoinKeyPath(char* joined, std::size_t joinedChars, const char* path, const char* name)
{
    int n = kt::Format(joined, joinedChars, "%s\\%s", path, name);
    return n >= 0 && static_cast<std::size_t>(n) < joinedChars;
}

template <std::size_t N>
bool JoinKeyPath(char (&joined)[N], const char* path, const char* name)
{
    return JoinKeyPath(joined, N, path, name);
}

// Opens "<path>\<name>" below root and leaves the joined path in joined (for messages). A path
// that had to be cut is not opened: it would name some other key.
template <std::size_t N>
ScopedKey OpenJoinedKey(HKEY root, char (&joined)[N], const char* path, const char* name)
{
    return JoinKeyPath(joined, path, name) ? ScopedKey(root, joined) : ScopedKey();
}
