#include "regrights.h"

#include <aclapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Access the rights code needs on the keys it visits: read and write their DACLs, walk subkeys.
constexpr REGSAM kDaclAccess = READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS;
constexpr DWORD kEmptyAclBytes = 16;

ACL noDaclMarker;

bool IsNoDacl(PACL dacl)
{
    return dacl == kNoDacl;
}

void FreeSavedCopy(PACL copy)
{
    if (copy && !IsNoDacl(copy)) LocalFree(copy);
}

class OpenedKey {
public:
    OpenedKey(HKEY root, const char* subkey) : key_(root), opened_(subkey != nullptr)
    {
        if (opened_) error_ = RegOpenKeyExA(root, subkey, 0, kDaclAccess, &key_);
    }
    ~OpenedKey()
    {
        if (opened_ && error_ == ERROR_SUCCESS) RegCloseKey(key_);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    DWORD error() const { return static_cast<DWORD>(error_); }
    HKEY get() const { return key_; }

private:
    HKEY key_;
    bool opened_;
    LONG error_ = ERROR_SUCCESS;
};

class Token {
public:
    Token() : error_(OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token_) ? 0 : GetLastError()) {}
    ~Token()
    {
        if (!error_) CloseHandle(token_);
    }
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    DWORD error() const { return error_; }
    HANDLE get() const { return token_; }

private:
    HANDLE token_ = nullptr;
    DWORD error_;
};

enum class TokenQuery { Ok, SizeRefused, Failed };

// One token query as the rights code makes it: a size query that must fail with
// ERROR_INSUFFICIENT_BUFFER, then the query itself. SizeRefused: the size query failed otherwise.
TokenQuery QueryToken(HANDLE token, TOKEN_INFORMATION_CLASS what, std::unique_ptr<BYTE[]>& info, DWORD& error)
{
    DWORD size = 0;
    if (GetTokenInformation(token, what, nullptr, 0, &size)) {
        error = ERROR_INVALID_PARAMETER;
        return TokenQuery::Failed;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return TokenQuery::SizeRefused;
    info.reset(new (std::nothrow) BYTE[size]);
    if (!info) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return TokenQuery::Failed;
    }
    if (!GetTokenInformation(token, what, info.get(), size, &size)) {
        error = GetLastError();
        info.reset();
        return TokenQuery::Failed;
    }
    return TokenQuery::Ok;
}

bool SidMatches(PSID sid, const TOKEN_USER* user, const TOKEN_GROUPS* groups)
{
    if (user && EqualSid(sid, user->User.Sid)) return true;
    if (groups)
        for (DWORD i = 0; i < groups->GroupCount; ++i)
            if (EqualSid(sid, groups->Groups[i].Sid)) return true;
    return false;
}

// The process token's user and groups as the access evaluation uses them, or the error that
// reading them gave. A grant walk reads them once: they cannot change during it, and reading them
// costs more than the rest of a key's visit.
struct TokenIdentity {
    DWORD error = ERROR_SUCCESS;
    std::unique_ptr<BYTE[]> user, groups;
};

// The user, then the groups; a size query refused otherwise leaves the rest unread, and the
// evaluation goes on with what was read.
TokenIdentity ReadTokenIdentity(HANDLE token)
{
    TokenIdentity identity;
    if (QueryToken(token, TokenUser, identity.user, identity.error) == TokenQuery::Ok)
        QueryToken(token, TokenGroups, identity.groups, identity.error);
    return identity;
}

TokenIdentity ReadProcessIdentity()
{
    Token token;
    if (token.error()) {
        TokenIdentity failed;
        failed.error = token.error();
        return failed;
    }
    return ReadTokenIdentity(token.get());
}

DWORD EffectiveAccess(PACL dacl, const TokenIdentity& identity, DWORD* mask)
{
    if (identity.error) return identity.error;
    const auto* tokenUser = reinterpret_cast<const TOKEN_USER*>(identity.user.get());
    const auto* tokenGroups = reinterpret_cast<const TOKEN_GROUPS*>(identity.groups.get());
    DWORD allowed = 0, denied = 0;
    void* ace = nullptr;
    for (DWORD index = 0; GetAce(dacl, index, &ace); ++index) {
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allow = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if (SidMatches(&allow->SidStart, tokenUser, tokenGroups)) allowed |= allow->Mask;
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* deny = static_cast<ACCESS_DENIED_ACE*>(ace);
            if (SidMatches(&deny->SidStart, tokenUser, tokenGroups)) denied |= deny->Mask;
        }
    }
    *mask = allowed & ~denied;
    return ERROR_SUCCESS;
}

// KeyNeedsAccess with the identity known: 0 when it already gives full access, else an error.
DWORD NeedsAccess(HKEY key, const TokenIdentity& identity)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    DWORD rc = GetKeyDacl(key, &descriptor, &dacl);
    if (rc) return rc;
    DWORD mask = 0;
    rc = dacl ? EffectiveAccess(dacl, identity, &mask) : ERROR_ACCESS_DENIED;
    LocalFree(descriptor);
    if (rc) return rc;
    return (mask & kFullKeyAccess) == kFullKeyAccess ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Calls visit(subkey, name) for each subkey of key, opened for DACL work, by index from 0. An
// enumeration or open failure ends the walk with its error; so does a nonzero result of visit.
template <class Visit>
DWORD ForEachOpenedSubkey(HKEY key, Visit visit)
{
    char name[261];
    for (DWORD index = 0;; ++index) {
        DWORD chars = sizeof name;
        LONG rc = RegEnumKeyExA(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
        OpenedKey subkey(key, name);
        if (subkey.error()) return subkey.error();
        if (DWORD result = visit(subkey.get(), static_cast<const char*>(name))) return result;
    }
}

KeyAccessNode* NewNode(PACL saved, const char* name)
{
    const size_t daclBytes = saved && !IsNoDacl(saved) ? saved->AclSize : 0;
    const size_t nameBytes = name ? std::strlen(name) + 1 : 0;
    auto* node = static_cast<KeyAccessNode*>(std::calloc(1, sizeof(KeyAccessNode) + daclBytes + nameBytes));
    if (!node) return nullptr;
    BYTE* tail = reinterpret_cast<BYTE*>(node + 1);
    if (daclBytes) {
        node->savedDacl = reinterpret_cast<PACL>(tail);
        std::memcpy(tail, saved, daclBytes);
    } else if (saved) {
        node->savedDacl = kNoDacl;
    }
    if (name) {
        node->name = reinterpret_cast<char*>(tail + daclBytes);
        std::memcpy(node->name, name, nameBytes);
    }
    return node;
}

void AddChild(KeyAccessNode* parent, KeyAccessNode* child)
{
    child->next = parent->firstChild;
    parent->firstChild = child;
}

// Grants full access to key where it lacks it and records a node for it (with the saved DACL
// when one was changed). A node that cannot be recorded puts the saved DACL back at once.
DWORD GrantAndRecord(HKEY key, const char* name, const TokenIdentity& identity, KeyAccessNode** node)
{
    PACL saved = nullptr;
    if (NeedsAccess(key, identity) != 0) {
        DWORD rc = GrantUserFullAccess(key, &saved);
        if (rc) return rc;
    }
    *node = NewNode(saved, name);
    if (!*node && saved) SetKeyDacl(key, saved);
    FreeSavedCopy(saved);
    return *node ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

DWORD GrantTree(HKEY key, KeyAccessNode* node, const TokenIdentity& identity)
{
    return ForEachOpenedSubkey(key, [&](HKEY subkey, const char* name) {
        KeyAccessNode* child = nullptr;
        DWORD granted = GrantAndRecord(subkey, name, identity, &child);
        if (child) {
            AddChild(node, child);
            if (DWORD below = GrantTree(subkey, child, identity)) return below;
        }
        return granted;
    });
}

}  // namespace

const PACL kNoDacl = &noDaclMarker;

DWORD GrantKeyAccess(HKEY root, const char* subkey, KeyAccessNode** tree, int recursive)
{
    OpenedKey key(root, subkey);
    if (key.error()) return key.error();
    const TokenIdentity identity = ReadProcessIdentity();
    KeyAccessNode* node = nullptr;
    DWORD rc = GrantAndRecord(key.get(), *tree ? subkey : nullptr, identity, &node);
    if (rc) return rc;
    if (recursive) {
        // A subtree granted only in part cannot be restored: the keys the walk did not reach
        // would take the DACL of the key above them. Everything granted is put back instead, and
        // the caller learns that it has no rights.
        rc = GrantTree(key.get(), node, identity);
        if (rc) {
            RestoreKeyAccessTree(key.get(), node, node->savedDacl, 0);
            SetKeyDacl(key.get(), node->savedDacl);
            FreeKeyAccessTree(node);
            return rc;
        }
    }
    if (*tree)
        AddChild(*tree, node);
    else
        *tree = node;
    return ERROR_SUCCESS;
}

DWORD GrantKeyAccessTree(HKEY key, KeyAccessNode* node)
{
    return GrantTree(key, node, ReadProcessIdentity());
}

DWORD RestoreKeyAccess(HKEY root, const char* subkey, KeyAccessNode* tree, int recursive)
{
    if (!tree) return ERROR_SUCCESS;
    // A pass that failed is made once more: it only writes the saved DACLs again, and a key left
    // open to everyone for a passing failure is the worst way this can end.
    DWORD rc = ERROR_SUCCESS;
    for (int pass = 0; pass < 2; ++pass) {
        OpenedKey key(root, subkey);
        rc = key.error();
        if (rc == ERROR_FILE_NOT_FOUND) return rc;
        if (rc) continue;
        const DWORD top = SetKeyDacl(key.get(), tree->savedDacl);
        const DWORD below = RestoreKeyAccessTree(key.get(), tree, tree->savedDacl, recursive);
        rc = top ? top : below;
        if (!rc) return rc;
    }
    return rc;
}

DWORD RestoreKeyAccessTree(HKEY key, KeyAccessNode* node, PACL acl, int recursive)
{
    // A DACL that cannot be put back does not stop the walk: every other key still gets its own
    // back, and the first such failure is the result.
    DWORD firstFailure = ERROR_SUCCESS;
    auto keep = [&firstFailure](DWORD rc) {
        if (rc && !firstFailure) firstFailure = rc;
    };
    const DWORD walk = ForEachOpenedSubkey(key, [&](HKEY subkey, const char* name) -> DWORD {
        KeyAccessNode* child = node ? FindAccessNode(node, name) : nullptr;
        if (child) {
            // A recorded key gets back its own DACL; one whose access was never changed keeps
            // its DACL, and its recorded ancestors' DACL only reaches keys below it that were
            // not recorded (created while access was granted).
            keep(RestoreKeyAccessTree(subkey, child, child->savedDacl ? child->savedDacl : acl, recursive));
            keep(SetKeyDacl(subkey, child->savedDacl));
        } else if (recursive) {
            keep(RestoreKeyAccessTree(subkey, nullptr, acl, recursive));
            keep(SetKeyDacl(subkey, acl));
        }
        return ERROR_SUCCESS;
    });
    return walk ? walk : firstFailure;
}

void FreeKeyAccessTree(KeyAccessNode* tree)
{
    if (!tree) return;
    for (KeyAccessNode* child = tree->firstChild; child;) {
        KeyAccessNode* next = child->next;
        FreeKeyAccessTree(child);
        child = next;
    }
    std::free(tree);
}

KeyAccessNode* FindAccessNode(KeyAccessNode* node, const char* name)
{
    for (KeyAccessNode* child = node->firstChild; child; child = child->next)
        if (child->name && lstrcmpiA(child->name, name) == 0) return child;
    return nullptr;
}

DWORD KeyNeedsAccess(HKEY key)
{
    return NeedsAccess(key, ReadProcessIdentity());
}

DWORD GetEffectiveKeyAccess(PACL dacl, HANDLE token, DWORD* mask)
{
    return EffectiveAccess(dacl, ReadTokenIdentity(token), mask);
}

DWORD GrantUserFullAccess(HKEY key, PACL* saved)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    DWORD rc = GetKeyDacl(key, &descriptor, &dacl);
    if (rc) return rc;
    BYTE emptyAcl[kEmptyAclBytes];
    const bool hadDacl = dacl != nullptr;
    if (!hadDacl) {
        dacl = reinterpret_cast<PACL>(emptyAcl);
        InitializeAcl(dacl, sizeof emptyAcl, ACL_REVISION);
    }

    Token token;
    PACL copy = nullptr;
    std::unique_ptr<BYTE[]> user;
    PACL granted = nullptr;
    if (token.error()) {
        rc = token.error();
    } else if (!(copy = static_cast<PACL>(LocalAlloc(LPTR, dacl->AclSize)))) {
        rc = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        std::memcpy(copy, dacl, dacl->AclSize);
        if (QueryToken(token.get(), TokenUser, user, rc) != TokenQuery::Ok) {
            rc = ERROR_INVALID_PARAMETER;
        } else {
            EXPLICIT_ACCESS_A access = {};
            access.grfAccessPermissions = kFullKeyAccess;
            access.grfAccessMode = GRANT_ACCESS;
            access.grfInheritance = CONTAINER_INHERIT_ACE;
            BuildTrusteeWithSidA(&access.Trustee, reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid);
            rc = SetEntriesInAclA(1, &access, dacl, &granted);
            if (rc == ERROR_SUCCESS) rc = SetKeyDacl(key, granted);
        }
    }
    if (rc == ERROR_SUCCESS) {
        // A key without any DACL gets exactly that back when it is restored.
        if (!hadDacl) {
            LocalFree(copy);
            copy = kNoDacl;
        }
        *saved = copy;
    } else if (copy) {
        LocalFree(copy);
    }
    if (granted) LocalFree(granted);
    LocalFree(descriptor);
    return rc;
}

DWORD GetKeyDacl(HKEY key, PSECURITY_DESCRIPTOR* descriptor, PACL* dacl)
{
    *descriptor = nullptr;
    *dacl = nullptr;
    DWORD size = 0;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER)
        return ERROR_ACCESS_DENIED;
    auto buffer = static_cast<PSECURITY_DESCRIPTOR>(LocalAlloc(LPTR, size));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD rc = static_cast<DWORD>(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer, &size));
    BOOL present = FALSE, defaulted = FALSE;
    if (rc == ERROR_SUCCESS && !GetSecurityDescriptorDacl(buffer, &present, dacl, &defaulted))
        rc = GetLastError();
    if (rc != ERROR_SUCCESS) {
        LocalFree(buffer);
        *dacl = nullptr;
        return rc;
    }
    if (!present) *dacl = nullptr;
    *descriptor = buffer;
    return ERROR_SUCCESS;
}

DWORD SetKeyDacl(HKEY key, PACL dacl)
{
    if (!dacl) return ERROR_SUCCESS;
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, IsNoDacl(dacl) ? nullptr : dacl, FALSE);
    return static_cast<DWORD>(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
}
