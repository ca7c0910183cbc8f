// Full access to a key and everything below it for the lifetime of one operation: granted on
// construction where the key's DACL does not already give it, every saved DACL put back on
// destruction.
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
        if (granted_) RestoreKeyAccess(root_, path_, tree_, 1);
        FreeKeyAccessTree(tree_);
    }
    KeyGrant(const KeyGrant&) = delete;
    KeyGrant& operator=(const KeyGrant&) = delete;

    explicit operator bool() const { return granted_; }

private:
    HKEY root_;
    const char* path_;
    KeyAccessNode* tree_ = nullptr;
    bool granted_ = false;
};
