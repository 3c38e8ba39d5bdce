// Writes one typed registry value or deletes one value, answering true or false. Registry
// failures never raise; they only make the answer false. Each call opens and closes its own key.
#pragma once

#include <cstdint>
#include <string>

#include "base/TypedValue.h"
#include "registry/RegistryOps.h"

namespace tarnwick {

class clsRegistry {
public:
    explicit clsRegistry(IRegistryOps& ops) : ops_(ops) {}

    // Creates or opens KeyName under hKey and writes Value as ValueName, the registry type
    // chosen by Value's type: 16-bit, 32-bit and byte as REG_DWORD; text as REG_SZ, or
    // REG_EXPAND_SZ when Flag is 1, REG_MULTI_SZ when Flag is 2 (ANSI, with its terminating
    // NUL); an array of bytes as REG_BINARY (an empty array as a zero-length value).
    // A value of any other type writes nothing, creates nothing and answers false.
    bool SetRegistryValue(uint32_t hKey, const std::u16string& KeyName, const std::u16string& ValueName,
                          TypedValue Value, int32_t Flag = 0);

    // Deletes ValueName from the existing key RegKeyName; the key stays. True only when the key
    // was opened, the value deleted and the key closed without error.
    bool DeleteRegistryValueOrKey(uint32_t hKey, const std::u16string& RegKeyName, const std::u16string& ValueName);

    // What the registry answered to the last call that answered false: the failing operation's
    // Win32 status (kErrorInvalidParameter for a value of a type that is not written); 0 after
    // a call that answered true.
    int32_t LastStatus() const { return status_; }

private:
    IRegistryOps& ops_;
    int32_t status_ = kErrorSuccess;
};

}  // namespace tarnwick
