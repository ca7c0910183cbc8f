#include "key_security.h"

#include <sddl.h>

namespace cardsim {
namespace {

constexpr REGSAM kAccess = READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS;

std::vector<std::string> SubkeyNames(HKEY root, const std::string& path)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, kAccess, &key) != ERROR_SUCCESS) return names;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD chars = sizeof name;
        if (RegEnumKeyExA(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void Snapshot(HKEY root, const std::string& path, const std::string& relative,
              std::map<std::string, std::string>& out)
{
    out[relative] = DaclOf(root, path);
    for (const std::string& name : SubkeyNames(root, path))
        Snapshot(root, path + "\\" + name, relative.empty() ? name : relative + "\\" + name, out);
}

}  // namespace

std::string DaclOf(HKEY root, const std::string& path)
{
    HKEY key;
    LONG rc = RegOpenKeyExA(root, path.c_str(), 0, READ_CONTROL, &key);
    if (rc != ERROR_SUCCESS) return "error " + std::to_string(rc);
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "error " + std::to_string(rc);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted);
    if (!present || !dacl) return "none";
    return std::string(reinterpret_cast<const char*>(dacl), dacl->AclSize);
}

LONG SetDacl(HKEY root, const std::string& path, const std::string& sddl)
{
    // Wine turns "D:NO_ACCESS_CONTROL" into an empty DACL (no access at all); build the null DACL
    // by hand.
    SECURITY_DESCRIPTOR nullDacl;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl == "D:NO_ACCESS_CONTROL") {
        InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE);
    } else if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr)) {
        return static_cast<LONG>(GetLastError());
    }
    HKEY key;
    LONG rc = RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, &key);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor ? descriptor : &nullDacl);
        RegCloseKey(key);
    }
    if (descriptor) LocalFree(descriptor);
    return rc;
}

std::map<std::string, std::string> DaclSnapshot(HKEY root, const std::string& path)
{
    std::map<std::string, std::string> out;
    Snapshot(root, path, "", out);
    return out;
}

LONG SetSubtreeDacl(HKEY root, const std::string& path, const std::string& sddl)
{
    // Children first: the parent's new DACL may keep us from enumerating them afterwards.
    for (const std::string& name : SubkeyNames(root, path)) {
        LONG rc = SetSubtreeDacl(root, path + "\\" + name, sddl);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return SetDacl(root, path, sddl);
}

}  // namespace cardsim
