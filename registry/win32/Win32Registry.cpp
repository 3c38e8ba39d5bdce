#include "registry/win32/Win32Registry.h"

#include "base/win32/Owners.h"

namespace tarnwick {

namespace {

static_assert(sizeof(RegSecurityAttributes) == sizeof(SECURITY_ATTRIBUTES));

// Predefined roots are 32-bit values; as handles on 64-bit Windows they are sign-extended.
HKEY RootHandle(uint32_t hKey)
{
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(hKey)));
}

HKEY KeyHandle(RegKey key)
{
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

int32_t Win32Registry::RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved,
                                       const char* className, uint32_t options, uint32_t samDesired,
                                       const RegSecurityAttributes* securityAttributes, RegKey* result,
                                       uint32_t* disposition)
{
    SECURITY_ATTRIBUTES security{};
    if (securityAttributes != nullptr) {
        security.nLength = sizeof(SECURITY_ATTRIBUTES);
        security.lpSecurityDescriptor = securityAttributes->lpSecurityDescriptor;
        security.bInheritHandle = securityAttributes->bInheritHandle;
    }
    HKEY opened = nullptr;
    DWORD how = 0;
    LSTATUS status = ::RegCreateKeyExA(RootHandle(hKey), subKey.c_str(), reserved, const_cast<char*>(className),
                                       options, samDesired, securityAttributes != nullptr ? &security : nullptr,
                                       result != nullptr ? &opened : nullptr, &how);
    if (result != nullptr)
        *result = reinterpret_cast<RegKey>(opened);
    if (disposition != nullptr)
        *disposition = how;
    return status;
}

int32_t Win32Registry::RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                                      const uint8_t* data, uint32_t cbData)
{
    return ::RegSetValueExA(KeyHandle(key), valueName.c_str(), reserved, type, data, cbData);
}

int32_t Win32Registry::RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options, uint32_t samDesired,
                                     RegKey* result)
{
    HKEY opened = nullptr;
    LSTATUS status =
        ::RegOpenKeyExA(RootHandle(hKey), subKey.c_str(), options, samDesired, result != nullptr ? &opened : nullptr);
    if (result != nullptr)
        *result = reinterpret_cast<RegKey>(opened);
    return status;
}

int32_t Win32Registry::RegDeleteValueA(RegKey key, const std::string& valueName)
{
    return ::RegDeleteValueA(KeyHandle(key), valueName.c_str());
}

int32_t Win32Registry::RegCloseKey(RegKey key)
{
    return win32::RegistryKey(KeyHandle(key)).close();
}

}  // namespace tarnwick
