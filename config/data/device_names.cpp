#include "data/device_names.h"

#include <cstdlib>
#include <cstring>

bool IsCardKeyName(const char* name)
{
    return std::strlen(name) == 44 && std::strstr(name, "BUS_") && std::strstr(name, "DEV_") &&
           std::strstr(name, "FUN_") && std::strstr(name, "VEN_");
}

bool ParseCardId(const char* name, CardId& id)
{
    static const char* const tags[] = {"BUS_", "DEV_", "FUN_", "VEN_", "DID_"};
    uint16_t* const fields[] = {&id.bus, &id.device, &id.function, &id.vendor, &id.deviceId};
    const char* from = name;
    for (int i = 0; i < 5; ++i) {
        const char* tag = std::strstr(from, tags[i]);
        if (!tag || !tag[4]) return false;
        char digits[5] = {};
        std::strncpy(digits, tag + 4, 4);
        char* end = nullptr;
        const unsigned long value = std::strtoul(digits, &end, 16);
        *fields[i] = end == digits ? 0 : static_cast<uint16_t>(value);
        from = tag;
    }
    return true;
}

bool IsPortKeyName(const char* name)
{
    return std::strlen(name) == 4;
}

const char* LastPathComponent(const char* text)
{
    const char* slash = std::strrchr(text, '\\');
    return slash ? slash + 1 : text;
}
