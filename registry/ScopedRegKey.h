// An opened key of the registry operations, closed exactly once: by Close(), which answers the
// close's status, or else when the scope ends (the status is then ignored).
#pragma once

#include "registry/RegistryOps.h"

namespace tarnwick {

class ScopedRegKey {
public:
    ScopedRegKey(IRegistryOps& ops, RegKey key) : ops_(ops), key_(key) {}
    ~ScopedRegKey()
    {
        if (open_)
            ops_.RegCloseKey(key_);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    RegKey Get() const { return key_; }

    // Closes the key now and answers the status of the close.
    int32_t Close()
    {
        open_ = false;
        return ops_.RegCloseKey(key_);
    }

private:
    IRegistryOps& ops_;
    RegKey key_;
    bool open_ = true;
};

}  // namespace tarnwick
