// The registry operations over the real Windows registry (advapi32, ANSI entry points).
#pragma once

#include "registry/RegistryOps.h"

namespace tarnwick {

class Win32Registry : public IRegistryOps {
public:
    int32_t RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved, const char* className,
                            uint32_t options, uint32_t samDesired, const RegSecurityAttributes* securityAttributes,
                            RegKey* result, uint32_t* disposition) override;
    int32_t RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                           const uint8_t* data, uint32_t cbData) override;
    int32_t RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options, uint32_t samDesired,
                          RegKey* result) override;
    int32_t RegDeleteValueA(RegKey key, const std::string& valueName) override;
    int32_t RegCloseKey(RegKey key) override;
};

}  // namespace tarnwick
