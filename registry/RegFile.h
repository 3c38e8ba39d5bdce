// The stand-alone registry's in-memory tree and its file format, the registry editor's text
// export format "REGEDIT4" (ANSI bytes). Files written by SerializeRegFile can be imported by
// the Windows registry editor and read by people:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Tarnwick]
//   @="default value"
//   "Title"="C:\\Games \"best\""
//   "Count"=dword:0000001c
//   "Blob"=hex:1c,00,ff
//   "Path"=hex(2):25,00
//
// Writing: CR LF line ends; every key gets a section, including empty intermediate keys, in
// depth-first order (a parent before its children, siblings in insertion order); the roots come
// in the fixed order HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
// HKEY_CURRENT_CONFIG, and a root gets a section only when it holds values or sub keys.
// A value is written as
//   "text"        REG_SZ whose data is one terminating NUL after bytes that are tab or >= 0x20
//                 (not 0x7F); '\' and '"' are escaped as \\ and \"
//   dword:xxxxxxxx REG_DWORD of exactly 4 bytes (little-endian, lower-case hex)
//   hex:..        REG_BINARY
//   hex(N):..     every other type, and REG_SZ / REG_DWORD data the short forms cannot hold,
//                 N in lower-case hex, so every value keeps its exact bytes (also zero bytes)
// Hex lists wrap regedit-style: ",\" ends a line, the next starts with two spaces, lines stay
// within 80 columns (a continuation line holds 25 bytes).
//
// Reading accepts LF or CR LF line ends, leading and trailing blanks on a line, blank lines, and
// whole-line ';' comments; root names in any letter case; dword with 1 to 8 hex digits; hex
// bytes with 1 or 2 digits in either case. A later value of the same name replaces the earlier
// one, and a repeated section adds to its key. Everything else is rejected with RegFileError
// (line number and reason): a missing header, bad sections, unknown roots, bad escapes, bad hex,
// deletion syntax ([-KEY], "x"=-), NUL bytes, stray CR, unknown syntax.
//
// Names: key and value names compare case-insensitively and keep the case they were created
// with. Folding covers ASCII letters and the Windows-1252 letters (0xE0-0xFE except 0xF7 match
// 0xC0-0xDE; 0x9A/0x8A, 0x9C/0x8C, 0x9E/0x8E, 0xFF/0x9F), matching how Windows compares the
// names it converts from the Windows-1252 code page. Key names hold 1 to 255 bytes and no '\';
// keys nest at most 512 levels below a root. Names cannot hold CR, LF or NUL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "registry/RegistryOps.h"

namespace tarnwick {

inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxKeyDepth = 512;

// A value's type and its exact bytes.
struct StoredValue {
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;

    bool operator==(const StoredValue&) const = default;
};

// The upper-case form used to compare names (see the folding rule above).
std::string FoldRegName(std::string_view name);

// Whether name can be a key name: 1 to 255 bytes, no '\', CR, LF or NUL.
bool IsValidKeyName(std::string_view name) noexcept;
// Whether name can be a value name: no CR, LF or NUL (empty is the default value).
bool IsValidValueName(std::string_view name) noexcept;

class RegKeyNode {
public:
    struct NamedValue {
        std::string name;
        StoredValue value;

        bool operator==(const NamedValue&) const = default;
    };

    // A root key (depth 0).
    explicit RegKeyNode(std::string name, std::size_t depth = 0);
    RegKeyNode(const RegKeyNode&) = delete;
    RegKeyNode& operator=(const RegKeyNode&) = delete;
    ~RegKeyNode() = default;

    const std::string& Name() const noexcept { return name_; }

    RegKeyNode* FindChild(std::string_view name);
    const RegKeyNode* FindChild(std::string_view name) const;
    // Returns the child of that name, creating it (with this spelling) when missing; the flag
    // tells whether it was created. Throws std::invalid_argument when the name fails
    // IsValidKeyName or the child would lie deeper than kMaxKeyDepth below its root.
    std::pair<RegKeyNode*, bool> AddChild(std::string_view name);
    const std::vector<std::unique_ptr<RegKeyNode>>& Children() const noexcept { return children_; }

    const StoredValue* FindValue(std::string_view name) const;
    // Stores the value; an existing value of the same name (in any case) keeps its spelling and
    // position. Returns false when the value was already exactly that. Throws
    // std::invalid_argument when the name fails IsValidValueName.
    bool SetValue(std::string_view name, StoredValue value);
    // Returns false when there is no such value.
    bool DeleteValue(std::string_view name);
    const std::vector<NamedValue>& Values() const noexcept { return values_; }

    // Exact comparison: spelling and order of names, values and sub keys.
    bool operator==(const RegKeyNode& other) const;

private:
    std::string name_;
    std::size_t depth_;  // levels below the root
    std::vector<std::unique_ptr<RegKeyNode>> children_;
    std::unordered_map<std::string, RegKeyNode*> childIndex_;  // folded name -> child
    std::vector<NamedValue> values_;
    std::unordered_map<std::string, std::size_t> valueIndex_;  // folded name -> position
};

// The five predefined roots, each with its tree of keys.
class RegModel {
public:
    static constexpr std::array<uint32_t, 5> kRoots = {HKEY_CLASSES_ROOT_VALUE, HKEY_CURRENT_USER_VALUE,
                                                       HKEY_LOCAL_MACHINE_VALUE, HKEY_USERS_VALUE,
                                                       HKEY_CURRENT_CONFIG_VALUE};

    RegModel();

    static bool IsRoot(uint32_t root) noexcept;
    // "HKEY_CURRENT_USER" etc.; empty for a value that is not a predefined root.
    static std::string_view RootName(uint32_t root) noexcept;
    // Accepts the full root names in any letter case.
    static std::optional<uint32_t> RootFromName(std::string_view name);

    // Null when root is not a predefined root.
    RegKeyNode* Root(uint32_t root) noexcept;
    const RegKeyNode* Root(uint32_t root) const noexcept;

    // The key at path (names below the root; empty means the root itself), or null.
    RegKeyNode* FindKey(uint32_t root, const std::vector<std::string>& path);
    const RegKeyNode* FindKey(uint32_t root, const std::vector<std::string>& path) const;
    // Creates the key and its missing ancestors; the flag tells whether the key itself was
    // created. Null when root is unknown. Throws std::invalid_argument (see AddChild).
    std::pair<RegKeyNode*, bool> CreateKey(uint32_t root, const std::vector<std::string>& path);

    bool operator==(const RegModel& other) const;

private:
    std::array<std::unique_ptr<RegKeyNode>, 5> roots_;
};

// A file the parser does not fully understand.
class RegFileError : public std::runtime_error {
public:
    RegFileError(std::size_t line, const std::string& reason);
    std::size_t Line() const noexcept { return line_; }
    const std::string& Reason() const noexcept { return reason_; }

private:
    std::size_t line_;
    std::string reason_;
};

// Reads a REGEDIT4 file; throws RegFileError. Runs in time linear in the text's length.
RegModel ParseRegFile(std::string_view text);
// Writes the model as a REGEDIT4 file (see above).
std::string SerializeRegFile(const RegModel& model);

}  // namespace tarnwick
