// The five registry operations the registry class needs, shaped like their advapi32 ANSI
// counterparts: every call returns a Win32 status (0 on success) and strings are ANSI bytes.
// Implemented over the real registry on Windows and by the stand-alone store elsewhere.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// Win32 status numbers that the registry code produces or checks.
enum RegStatus : int32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorInvalidData = 13,
    kErrorInvalidParameter = 87,
    kErrorBadPathname = 161,
    kErrorLockViolation = 33,
    kErrorKeyDeleted = 1018,
    kErrorBadRegistryFile = 1009,  // ERROR_BADDB: the store cannot be read or parsed
};

// Predefined root keys as their 32-bit handle values.
enum : uint32_t {
    HKEY_CLASSES_ROOT_VALUE = 0x80000000u,
    HKEY_CURRENT_USER_VALUE = 0x80000001u,
    HKEY_LOCAL_MACHINE_VALUE = 0x80000002u,
    HKEY_USERS_VALUE = 0x80000003u,
    HKEY_CURRENT_CONFIG_VALUE = 0x80000005u,
};

// Registry value types.
enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

// Key access rights used by the registry class: query, set, create sub key, enumerate, notify, create link.
inline constexpr uint32_t kKeyAccess = 0x3F;

// Mirrors SECURITY_ATTRIBUTES (same field order and sizes).
struct RegSecurityAttributes {
    uint32_t nLength;
    void* lpSecurityDescriptor;
    int32_t bInheritHandle;
};

// An opened key. Zero is never a valid opened key.
using RegKey = std::uintptr_t;

class IRegistryOps {
public:
    virtual ~IRegistryOps() = default;

    // Creates the key subKey under the predefined root hKey (or opens it when it exists).
    // disposition receives 1 (created) or 2 (opened); it may be null.
    virtual int32_t RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved, const char* className,
                                    uint32_t options, uint32_t samDesired,
                                    const RegSecurityAttributes* securityAttributes, RegKey* result,
                                    uint32_t* disposition) = 0;

    // Stores cbData bytes of data as the value valueName of an opened key.
    virtual int32_t RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                                   const uint8_t* data, uint32_t cbData) = 0;

    // Opens an existing key; a missing key is not created.
    virtual int32_t RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options, uint32_t samDesired,
                                  RegKey* result) = 0;

    virtual int32_t RegDeleteValueA(RegKey key, const std::string& valueName) = 0;

    virtual int32_t RegCloseKey(RegKey key) = 0;
};

}  // namespace tarnwick
