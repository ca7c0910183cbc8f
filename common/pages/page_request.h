// The record a property sheet host passes to a page provider's EnumPropPages: the device's key
// path below HKEY_LOCAL_MACHINE, and a result word the provider's pages may set (8: the computer
// must be restarted).
#pragma once

#include <cstdint>

struct PageRequest {
    const char* keyPath;  // 8-bit text; a provider also accepts UTF-16 here
    uint32_t result;
};

constexpr uint32_t kPageResultRebootNeeded = 8;
