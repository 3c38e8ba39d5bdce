#include "registry/clsRegistry.h"

#include <optional>
#include <vector>

#include "base/AnsiText.h"
#include "registry/ScopedRegKey.h"

namespace tarnwick {

namespace {

struct EncodedValue {
    uint32_t type;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> DwordBytes(int32_t value)
{
    auto u = static_cast<uint32_t>(value);
    return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
            static_cast<uint8_t>(u >> 24)};
}

// The registry type and bytes for a value, or nothing for a type that is not written.
std::optional<EncodedValue> Encode(const TypedValue& value, int32_t flag)
{
    switch (value.Type()) {
    case VarType::Integer:
        return EncodedValue{kRegDword, DwordBytes(value.AsInteger())};
    case VarType::Long:
        return EncodedValue{kRegDword, DwordBytes(value.AsLong())};
    case VarType::Byte:
        return EncodedValue{kRegDword, DwordBytes(value.AsByte())};
    case VarType::String: {
        uint32_t type = flag == 1 ? kRegExpandSz : flag == 2 ? kRegMultiSz : kRegSz;
        // The whole converted text and its terminating NUL, which the registry expects for
        // every string type; a character that takes two ANSI bytes keeps both.
        std::string ansi = ToAnsi(value.AsString());
        std::vector<uint8_t> data(ansi.begin(), ansi.end());
        data.push_back(0);
        return EncodedValue{type, std::move(data)};
    }
    case VarType::ByteArray:
        return EncodedValue{kRegBinary, value.AsBytes()};
    default:
        return std::nullopt;
    }
}

}  // namespace

bool clsRegistry::SetRegistryValue(uint32_t hKey, const std::u16string& KeyName, const std::u16string& ValueName,
                                   TypedValue Value, int32_t Flag)
{
    std::optional<EncodedValue> encoded = Encode(Value, Flag);
    status_ = kErrorInvalidParameter;
    if (!encoded)
        return false;

    // The record as the class has always filled it: a length of 10 (two 32-bit fields and a
    // 16-bit boolean), no descriptor, and inheritance on as the 16-bit true in the low half.
    RegSecurityAttributes security{10, nullptr, 0x0000FFFF};
    RegKey opened = 0;
    uint32_t disposition = 0;
    status_ = ops_.RegCreateKeyExA(hKey, ToAnsi(KeyName), 0, nullptr, 0, kKeyAccess, &security, &opened, &disposition);
    if (status_ != kErrorSuccess)
        return false;
    // The write decides the answer; a failed close changes nothing that was written.
    ScopedRegKey key(ops_, opened);

    // A zero-length value still gets a valid data pointer.
    static const uint8_t kNoData = 0;
    const std::vector<uint8_t>& data = encoded->data;
    status_ = ops_.RegSetValueExA(key.Get(), ToAnsi(ValueName), 0, encoded->type, data.empty() ? &kNoData : data.data(),
                                  static_cast<uint32_t>(data.size()));
    return status_ == kErrorSuccess;
}

bool clsRegistry::DeleteRegistryValueOrKey(uint32_t hKey, const std::u16string& RegKeyName,
                                           const std::u16string& ValueName)
{
    RegKey opened = 0;
    status_ = ops_.RegOpenKeyExA(hKey, ToAnsi(RegKeyName), 0, kKeyAccess, &opened);
    if (status_ != kErrorSuccess)
        return false;
    ScopedRegKey key(ops_, opened);
    status_ = ops_.RegDeleteValueA(key.Get(), ToAnsi(ValueName));
    if (status_ != kErrorSuccess)
        return false;
    status_ = key.Close();
    return status_ == kErrorSuccess;
}

}  // namespace tarnwick
