// Full access to a key and everything below it for the lifetime of one operation: granted on
// construction where the key's DACL does not already give it, every saved DACL put back by
// Restore or, at the latest, on destruction.
#pragma once

#include <windows.h>

#include "regrights.h"

class KeyGrant {
public:
    KeyGrant(HKEY root, const char* path) : root_(root), path_(path)
    {
        granted_ = GrantKeyAccess(root_, path_, &tree_, 1) == ERROR_SUCCESS;
    }
    ~KeyGrant()
    {
        Restore();
        FreeKeyAccessTree(tree_);
    }
    KeyGrant(const KeyGrant&) = delete;
    KeyGrant& operator=(const KeyGrant&) = delete;

    explicit operator bool() const { return granted_; }

    // Puts the saved DACLs back (once); true when every one of them went back. A key deleted
    // meanwhile has nothing left to restore.
    bool Restore()
    {
        if (!granted_ || restored_) return true;
        restored_ = true;
        const DWORD rc = RestoreKeyAccess(root_, path_, tree_, 1);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }

private:
    HKEY root_;
    const char* path_;
    KeyAccessNode* tree_ = nullptr;
    bool granted_ = false;
    bool restored_ = false;
};
