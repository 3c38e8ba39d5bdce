// A value that carries its own type tag, numbered as OLE Automation variant types.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tarnwick {

enum class VarType : uint16_t {
    Empty = 0,
    Null = 1,
    Integer = 2,  // 16-bit signed
    Long = 3,     // 32-bit signed
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    String = 8,
    Object = 9,
    Boolean = 11,
    Byte = 17,
    ByteArray = 8192 + 17,
};

class TypedValue {
public:
    TypedValue() = default;  // Empty

    static TypedValue Null() { return TypedValue(VarType::Null, std::monostate{}); }
    static TypedValue Integer(int16_t v) { return TypedValue(VarType::Integer, v); }
    static TypedValue Long(int32_t v) { return TypedValue(VarType::Long, v); }
    static TypedValue Single(float v) { return TypedValue(VarType::Single, v); }
    static TypedValue Double(double v) { return TypedValue(VarType::Double, v); }
    static TypedValue Currency(int64_t tenThousandths) { return TypedValue(VarType::Currency, tenThousandths); }
    static TypedValue Date(double days) { return TypedValue(VarType::Date, days); }
    static TypedValue String(std::u16string v) { return TypedValue(VarType::String, std::move(v)); }
    static TypedValue Object() { return TypedValue(VarType::Object, std::monostate{}); }
    static TypedValue Boolean(bool v) { return TypedValue(VarType::Boolean, v); }
    static TypedValue Byte(uint8_t v) { return TypedValue(VarType::Byte, v); }
    static TypedValue Bytes(std::vector<uint8_t> v) { return TypedValue(VarType::ByteArray, std::move(v)); }

    VarType Type() const noexcept { return type_; }

    // Accessors for the stored value; each requires the matching type.
    int16_t AsInteger() const { return std::get<int16_t>(data_); }
    int32_t AsLong() const { return std::get<int32_t>(data_); }
    float AsSingle() const { return std::get<float>(data_); }
    double AsDouble() const { return std::get<double>(data_); }
    const std::u16string& AsString() const { return std::get<std::u16string>(data_); }
    bool AsBoolean() const { return std::get<bool>(data_); }
    uint8_t AsByte() const { return std::get<uint8_t>(data_); }
    const std::vector<uint8_t>& AsBytes() const { return std::get<std::vector<uint8_t>>(data_); }

    bool operator==(const TypedValue&) const = default;

private:
    using Data = std::variant<std::monostate, int16_t, int32_t, int64_t, float, double, bool, uint8_t, std::u16string,
                              std::vector<uint8_t>>;
    TypedValue(VarType type, Data data) : type_(type), data_(std::move(data)) {}

    VarType type_ = VarType::Empty;
    Data data_;
};

}  // namespace tarnwick
