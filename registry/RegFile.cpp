#include "registry/RegFile.h"

#include <algorithm>
#include <tuple>

namespace tarnwick {

namespace {

constexpr std::array<std::string_view, 5> kRootNames = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                        "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

constexpr char kHexDigits[] = "0123456789abcdef";

unsigned char FoldByte(unsigned char c) noexcept
{
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<unsigned char>(c - 0x20);
    switch (c) {
    case 0x9A:
        return 0x8A;  // s caron
    case 0x9C:
        return 0x8C;  // oe
    case 0x9E:
        return 0x8E;  // z caron
    case 0xFF:
        return 0x9F;  // y diaeresis
    default:
        return c;
    }
}

bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) noexcept
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (FoldByte(static_cast<unsigned char>(s[i])) != FoldByte(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// Parses 1 to 8 hex digits (the whole of digits) into value.
bool ParseHex32(std::string_view digits, uint32_t& value)
{
    if (digits.empty() || digits.size() > 8)
        return false;
    value = 0;
    for (char c : digits) {
        const int v = HexValue(c);
        if (v < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(v);
    }
    return true;
}

// A readable excerpt of untrusted text for an error message.
std::string Excerpt(std::string_view s)
{
    constexpr std::size_t kMax = 40;
    std::string out(s.substr(0, kMax));
    if (s.size() > kMax)
        out += "...";
    return out;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    RegModel Run()
    {
        std::string_view line;
        if (!NextLine(line) || Trim(line) != "REGEDIT4") {
            lineNo_ = 1;
            Fail("missing header: the first line must be REGEDIT4");
        }
        while (NextLine(line)) {
            line = Trim(line);
            if (line.empty() || line.front() == ';')
                continue;
            if (line.front() == '[') {
                ParseSection(line);
            } else if (line.front() == '"' || line.front() == '@') {
                ParseValue(line);
            } else {
                Fail("unrecognised line '" + Excerpt(line) + "'");
            }
        }
        return std::move(model_);
    }

private:
    [[noreturn]] void Fail(const std::string& reason) const { throw RegFileError(lineNo_, reason); }

    // The next line without its LF or CR LF; false at the end of the text.
    bool NextLine(std::string_view& line)
    {
        if (pos_ >= text_.size())
            return false;
        ++lineNo_;
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line = text_.substr(pos_, stop - pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (lineNo_ > 1) {
            if (line.find('\r') != std::string_view::npos)
                Fail("carriage return without a line feed");
            if (line.find('\0') != std::string_view::npos)
                Fail("NUL byte in the text");
        }
        return true;
    }

    void ParseSection(std::string_view line)
    {
        if (line.size() < 2 || line.back() != ']')
            Fail("section must end with ']'");
        std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-')
            Fail("deleting keys ([-...]) is not supported");
        if (inner.empty())
            Fail("empty section []");

        std::size_t sep = inner.find('\\');
        const std::string_view rootName = inner.substr(0, sep);
        const std::optional<uint32_t> root = RegModel::RootFromName(rootName);
        if (!root)
            Fail("unknown root key '" + Excerpt(rootName) + "'");

        std::vector<std::string> path;
        while (sep != std::string_view::npos) {
            const std::size_t start = sep + 1;
            sep = inner.find('\\', start);
            const std::string_view name =
                inner.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
            if (name.empty())
                Fail("empty key name in section");
            if (name.size() > kMaxKeyNameLength)
                Fail("key name longer than 255 characters");
            if (path.size() == kMaxKeyDepth)
                Fail("keys nested deeper than 512 levels");
            path.emplace_back(name);
        }
        current_ = model_.CreateKey(*root, path).first;
    }

    void ParseValue(std::string_view line)
    {
        if (current_ == nullptr)
            Fail("value before the first [key] section");
        std::size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else {
            name = ParseQuoted(line, pos);
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            Fail("expected '=' after the value name");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        const std::string_view rest = line.substr(pos);

        StoredValue value;
        if (rest.empty()) {
            Fail("missing value data after '='");
        } else if (rest.front() == '-') {
            Fail("deleting values (=-) is not supported");
        } else if (rest.front() == '"') {
            const std::string text = ParseQuoted(line, pos);
            if (pos != line.size())
                Fail("unexpected text after the closing quote");
            value.type = kRegSz;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        } else if (StartsWithNoCase(rest, "dword:")) {
            uint32_t number = 0;
            if (!ParseHex32(rest.substr(6), number))
                Fail("bad dword '" + Excerpt(rest.substr(6)) + "': expected 1 to 8 hex digits");
            value.type = kRegDword;
            for (int i = 0; i < 4; ++i)
                value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
        } else if (StartsWithNoCase(rest, "hex:")) {
            value.type = kRegBinary;
            value.data = ParseHexList(line, pos + 4);
        } else if (StartsWithNoCase(rest, "hex(")) {
            const std::size_t close = rest.find(')');
            if (close == std::string_view::npos || !ParseHex32(rest.substr(4, close - 4), value.type))
                Fail("bad value type in hex(...): expected 1 to 8 hex digits");
            if (close + 1 >= rest.size() || rest[close + 1] != ':')
                Fail("expected ':' after hex(...)");
            value.data = ParseHexList(line, pos + close + 2);
        } else {
            Fail("unrecognised value data '" + Excerpt(rest) + "'");
        }
        current_->SetValue(name, std::move(value));
    }

    // Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
    std::string ParseQuoted(std::string_view line, std::size_t& pos)
    {
        std::string out;
        ++pos;
        for (;;) {
            if (pos >= line.size())
                Fail("missing closing quote");
            const char c = line[pos];
            if (c == '"') {
                ++pos;
                return out;
            }
            if (c == '\\') {
                if (pos + 1 >= line.size())
                    Fail("bad escape: '\\' at the end of the line");
                const char next = line[pos + 1];
                if (next != '\\' && next != '"')
                    Fail(std::string("bad escape '\\") + next + "': only \\\\ and \\\" are allowed");
                out += next;
                pos += 2;
            } else {
                out += c;
                ++pos;
            }
        }
    }

    // Reads comma-separated hex bytes from line[pos], following ",\" continuations.
    std::vector<uint8_t> ParseHexList(std::string_view line, std::size_t pos)
    {
        std::vector<uint8_t> bytes;
        bool needByte = false;  // after a comma
        for (;;) {
            while (pos < line.size() && IsBlank(line[pos]))
                ++pos;
            if (pos >= line.size()) {
                if (needByte)
                    Fail("bad hex: missing byte after ','");
                return bytes;
            }
            if (line[pos] == '\\') {  // here at the start of the list or after a comma
                if (!Trim(line.substr(pos + 1)).empty())
                    Fail("bad hex: text after the continuation '\\'");
                if (!NextLine(line))
                    Fail("bad hex: data continues past the end of the file");
                line = Trim(line);
                pos = 0;
                needByte = true;
                continue;
            }
            std::size_t end = pos;
            while (end < line.size() && line[end] != ',' && line[end] != '\\' && !IsBlank(line[end]))
                ++end;
            const std::string_view token = line.substr(pos, end - pos);
            if (token.empty())
                Fail("bad hex: missing byte before ','");
            if (token.size() > 2 || std::any_of(token.begin(), token.end(), [](char c) { return HexValue(c) < 0; }))
                Fail("bad hex byte '" + Excerpt(token) + "'");
            int byte = 0;
            for (std::size_t i = pos; i < end; ++i)
                byte = byte * 16 + HexValue(line[i]);
            bytes.push_back(static_cast<uint8_t>(byte));
            pos = end;
            while (pos < line.size() && IsBlank(line[pos]))
                ++pos;
            if (pos >= line.size())
                return bytes;
            if (line[pos] != ',')
                Fail("bad hex: expected ',' between bytes");
            ++pos;
            needByte = true;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t lineNo_ = 0;
    RegModel model_;
    RegKeyNode* current_ = nullptr;
};

void AppendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
}

// REG_SZ data the quoted form can hold exactly.
bool IsPlainText(const std::vector<uint8_t>& data) noexcept
{
    if (data.empty() || data.back() != 0)
        return false;
    return std::all_of(data.begin(), data.end() - 1, [](uint8_t b) { return b == '\t' || (b >= 0x20 && b != 0x7F); });
}

void AppendHexByte(std::string& out, uint8_t b)
{
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
}

void AppendHexList(std::string& out, const std::vector<uint8_t>& data, std::size_t column)
{
    constexpr std::size_t kLastColumn = 79;
    std::size_t onLine = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool last = i + 1 == data.size();
        // Room for the byte and, unless it is the last, its comma and a continuation mark.
        if (onLine > 0 && column + (last ? 2 : 4) > kLastColumn) {
            out += "\\\r\n  ";
            column = 2;
            onLine = 0;
        }
        AppendHexByte(out, data[i]);
        column += 2;
        if (!last) {
            out += ',';
            ++column;
        }
        ++onLine;
    }
}

void AppendValue(std::string& out, const RegKeyNode::NamedValue& named)
{
    const std::size_t lineStart = out.size();
    if (named.name.empty()) {
        out += '@';
    } else {
        out += '"';
        AppendEscaped(out, named.name);
        out += '"';
    }
    out += '=';
    const StoredValue& v = named.value;
    if (v.type == kRegSz && IsPlainText(v.data)) {
        out += '"';
        AppendEscaped(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
        out += '"';
    } else if (v.type == kRegDword && v.data.size() == 4) {
        out += "dword:";
        for (int i = 3; i >= 0; --i)
            AppendHexByte(out, v.data[static_cast<std::size_t>(i)]);
    } else {
        if (v.type == kRegBinary) {
            out += "hex:";
        } else {
            out += "hex(";
            std::string digits;
            uint32_t t = v.type;
            do {
                digits += kHexDigits[t & 0x0F];
                t >>= 4;
            } while (t != 0);
            out.append(digits.rbegin(), digits.rend());
            out += "):";
        }
        AppendHexList(out, v.data, out.size() - lineStart);
    }
    out += "\r\n";
}

void AppendKey(std::string& out, const RegKeyNode& key, std::string& path)
{
    out += '[';
    out += path;
    out += "]\r\n";
    for (const auto& value : key.Values())
        AppendValue(out, value);
    out += "\r\n";
    for (const auto& child : key.Children()) {
        const std::size_t length = path.size();
        path += '\\';
        path += child->Name();
        AppendKey(out, *child, path);
        path.resize(length);
    }
}

}  // namespace

std::string FoldRegName(std::string_view name)
{
    std::string out(name);
    for (char& c : out)
        c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
    return out;
}

bool IsValidValueName(std::string_view name) noexcept
{
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool IsValidKeyName(std::string_view name) noexcept
{
    return !name.empty() && name.size() <= kMaxKeyNameLength && IsValidValueName(name) &&
           name.find('\\') == std::string_view::npos;
}

// ---- RegKeyNode ----

RegKeyNode::RegKeyNode(std::string name, std::size_t depth) : name_(std::move(name)), depth_(depth) {}

RegKeyNode* RegKeyNode::FindChild(std::string_view name)
{
    const auto it = childIndex_.find(FoldRegName(name));
    return it == childIndex_.end() ? nullptr : it->second;
}

const RegKeyNode* RegKeyNode::FindChild(std::string_view name) const
{
    const auto it = childIndex_.find(FoldRegName(name));
    return it == childIndex_.end() ? nullptr : it->second;
}

std::pair<RegKeyNode*, bool> RegKeyNode::AddChild(std::string_view name)
{
    std::string folded = FoldRegName(name);
    const auto it = childIndex_.find(folded);
    if (it != childIndex_.end())
        return {it->second, false};
    if (!IsValidKeyName(name))
        throw std::invalid_argument("invalid registry key name");
    if (depth_ >= kMaxKeyDepth)
        throw std::invalid_argument("registry keys nested deeper than 512 levels");
    children_.push_back(std::make_unique<RegKeyNode>(std::string(name), depth_ + 1));
    RegKeyNode* child = children_.back().get();
    childIndex_.emplace(std::move(folded), child);
    return {child, true};
}

const StoredValue* RegKeyNode::FindValue(std::string_view name) const
{
    const auto it = valueIndex_.find(FoldRegName(name));
    return it == valueIndex_.end() ? nullptr : &values_[it->second].value;
}

bool RegKeyNode::SetValue(std::string_view name, StoredValue value)
{
    std::string folded = FoldRegName(name);
    const auto it = valueIndex_.find(folded);
    if (it != valueIndex_.end()) {
        StoredValue& existing = values_[it->second].value;
        if (existing == value)
            return false;
        existing = std::move(value);
        return true;
    }
    if (!IsValidValueName(name))
        throw std::invalid_argument("invalid registry value name");
    values_.push_back(NamedValue{std::string(name), std::move(value)});
    valueIndex_.emplace(std::move(folded), values_.size() - 1);
    return true;
}

bool RegKeyNode::DeleteValue(std::string_view name)
{
    const auto it = valueIndex_.find(FoldRegName(name));
    if (it == valueIndex_.end())
        return false;
    const std::size_t position = it->second;
    valueIndex_.erase(it);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& entry : valueIndex_) {
        if (entry.second > position)
            --entry.second;
    }
    return true;
}

bool RegKeyNode::operator==(const RegKeyNode& other) const
{
    if (name_ != other.name_ || values_ != other.values_ || children_.size() != other.children_.size())
        return false;
    for (std::size_t i = 0; i < children_.size(); ++i) {
        if (!(*children_[i] == *other.children_[i]))
            return false;
    }
    return true;
}

// ---- RegModel ----

RegModel::RegModel()
{
    for (std::size_t i = 0; i < roots_.size(); ++i)
        roots_[i] = std::make_unique<RegKeyNode>(std::string(kRootNames[i]));
}

bool RegModel::IsRoot(uint32_t root) noexcept
{
    return std::find(kRoots.begin(), kRoots.end(), root) != kRoots.end();
}

std::string_view RegModel::RootName(uint32_t root) noexcept
{
    for (std::size_t i = 0; i < kRoots.size(); ++i) {
        if (kRoots[i] == root)
            return kRootNames[i];
    }
    return {};
}

std::optional<uint32_t> RegModel::RootFromName(std::string_view name)
{
    const std::string folded = FoldRegName(name);
    for (std::size_t i = 0; i < kRoots.size(); ++i) {
        if (folded == kRootNames[i])
            return kRoots[i];
    }
    return std::nullopt;
}

RegKeyNode* RegModel::Root(uint32_t root) noexcept
{
    for (std::size_t i = 0; i < kRoots.size(); ++i) {
        if (kRoots[i] == root)
            return roots_[i].get();
    }
    return nullptr;
}

const RegKeyNode* RegModel::Root(uint32_t root) const noexcept
{
    return const_cast<RegModel*>(this)->Root(root);
}

RegKeyNode* RegModel::FindKey(uint32_t root, const std::vector<std::string>& path)
{
    RegKeyNode* key = Root(root);
    for (const std::string& name : path) {
        if (key == nullptr)
            break;
        key = key->FindChild(name);
    }
    return key;
}

const RegKeyNode* RegModel::FindKey(uint32_t root, const std::vector<std::string>& path) const
{
    return const_cast<RegModel*>(this)->FindKey(root, path);
}

std::pair<RegKeyNode*, bool> RegModel::CreateKey(uint32_t root, const std::vector<std::string>& path)
{
    RegKeyNode* key = Root(root);
    if (key == nullptr)
        return {nullptr, false};
    bool created = false;
    for (const std::string& name : path)
        std::tie(key, created) = key->AddChild(name);
    return {key, created};
}

bool RegModel::operator==(const RegModel& other) const
{
    for (std::size_t i = 0; i < roots_.size(); ++i) {
        if (!(*roots_[i] == *other.roots_[i]))
            return false;
    }
    return true;
}

// ---- File format ----

RegFileError::RegFileError(std::size_t line, const std::string& reason)
    : std::runtime_error("line " + std::to_string(line) + ": " + reason), line_(line), reason_(reason)
{
}

RegModel ParseRegFile(std::string_view text)
{
    return Parser(text).Run();
}

std::string SerializeRegFile(const RegModel& model)
{
    std::string out = "REGEDIT4\r\n\r\n";
    for (uint32_t root : RegModel::kRoots) {
        const RegKeyNode& node = *model.Root(root);
        if (node.Values().empty() && node.Children().empty())
            continue;
        std::string path(node.Name());
        AppendKey(out, node, path);
    }
    return out;
}

}  // namespace tarnwick
