// Temporary full access to registry keys: grant the current user full access where the key's
// DACL does not already give it, remember each key's previous DACL in a tree that mirrors the
// keys visited, do the work, put the previous DACLs back, free the tree:
//
//     KeyAccessNode* tree = nullptr;
//     if (GrantKeyAccess(root, path, &tree, 1) == 0) {
//         ... work ...
//         RestoreKeyAccess(root, path, tree, 1);
//     }
//     FreeKeyAccessTree(tree);
//
// Results are Windows error codes: 0 success, 5 access denied (also: no DACL, or not full access),
// 8 not enough memory, 87 token query anomaly, or a code from the registry or security calls.
#pragma once

#include <windows.h>

// Full access to a key (KEY_ALL_ACCESS).
constexpr DWORD kFullKeyAccess = 0xF003F;

// One key whose access was (or did not need to be) changed. One zero-filled allocation holds the
// node, then the copy of the saved DACL, then the name.
struct KeyAccessNode {
    KeyAccessNode* next;        // next sibling
    char* name;                 // relative to the parent node's key; none for the root node
    PACL savedDacl;             // DACL before the grant; none when nothing was changed
    KeyAccessNode* firstChild;  // newest child first
};

// Stands for "the key had no DACL at all" where a saved DACL is expected; restoring it gives the
// key a null DACL again (everyone has full access, as before).
extern const PACL kNoDacl;

DWORD GrantKeyAccess(HKEY root, const char* subkey, KeyAccessNode** tree, int recursive);
DWORD RestoreKeyAccess(HKEY root, const char* subkey, KeyAccessNode* tree, int recursive);
void FreeKeyAccessTree(KeyAccessNode* tree);

DWORD KeyNeedsAccess(HKEY key);
DWORD GetEffectiveKeyAccess(PACL dacl, HANDLE token, DWORD* mask);
DWORD GrantUserFullAccess(HKEY key, PACL* saved);
DWORD GrantKeyAccessTree(HKEY key, KeyAccessNode* node);
// Restores every key it can reach; the first failure is the result.
DWORD RestoreKeyAccessTree(HKEY key, KeyAccessNode* node, PACL acl, int recursive);
// The descriptor buffer is the caller's to free (LocalFree); dacl points into it and may be none.
DWORD GetKeyDacl(HKEY key, PSECURITY_DESCRIPTOR* descriptor, PACL* dacl);
// Nothing for none; otherwise RegSetKeySecurity's result.
DWORD SetKeyDacl(HKEY key, PACL dacl);
KeyAccessNode* FindAccessNode(KeyAccessNode* node, const char* name);
