// The shell setting the Run command writes on the Windows 95 family.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnwick {

inline constexpr char16_t kExplorerKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
inline constexpr char16_t kShellStateName[] = u"ShellState";

// Seven little-endian words: size 28; show all objects, file extensions, double-click in web
// view, HTML desktop and info tips (0x863); two reserved words and the sort parameter (0);
// sort direction 1; layout version 10. The last byte comes from the array's extra element.
inline constexpr char kShellStateText[] =
    "1c 00 00 00 63 08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 0a 00 00";

// The 28 bytes of ShellState, from the text above.
std::vector<uint8_t> ShellStateBytes();

}  // namespace tarnwick
