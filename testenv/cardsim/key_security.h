// Reading and setting key DACLs in tests, and snapshots of a whole subtree's DACLs.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace cardsim {

// The DACL bytes of a key; "none" when it has no DACL, "error N" when it cannot be read.
std::string DaclOf(HKEY root, const std::string& path);

// Sets the key's DACL from SDDL ("D:(A;;KA;;;BA)..."), or a null DACL for "D:NO_ACCESS_CONTROL".
LONG SetDacl(HKEY root, const std::string& path, const std::string& sddl);

// Every key of the subtree (relative paths) with its DACL.
std::map<std::string, std::string> DaclSnapshot(HKEY root, const std::string& path);

// Sets the same DACL on every key of the subtree.
LONG SetSubtreeDacl(HKEY root, const std::string& path, const std::string& sddl);

}  // namespace cardsim
