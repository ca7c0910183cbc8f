// Recognising the enumerator's card and port key names and the port names in the device maps.
// No Windows calls here.
#pragma once

#include <cstdint>

struct CardId {
    uint16_t bus, device, function, vendor, deviceId;
};

// A card key name: exactly 44 characters containing "BUS_", "DEV_", "FUN_" and "VEN_".
bool IsCardKeyName(const char* name);

// Reads the four characters after each of "BUS_", "DEV_", "FUN_", "VEN_", "DID_" (searched in this
// order, each from where the previous tag was found) as hexadecimal numbers. A field whose
// characters are not hexadecimal reads as 0. Returns false when a tag is missing or has nothing
// after it.
bool ParseCardId(const char* name, CardId& id);

// A port key name: exactly 4 characters.
bool IsPortKeyName(const char* name);

// The text after the last backslash of text, or all of text when it has none.
const char* LastPathComponent(const char* text);
