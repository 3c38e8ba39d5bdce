#pragma once

#include <optional>
#include <string>

#include "app/Platform.h"

namespace tarnwick {

// The names the program gives the running system.
inline constexpr char16_t kOsNone[] = u"NONE";
inline constexpr char16_t kOsWin32s[] = u"Win32s";
inline constexpr char16_t kOsWindows95[] = u"Windows 95";
inline constexpr char16_t kOsWindows98[] = u"Windows 98";
inline constexpr char16_t kOsWindowsMe[] = u"Windows ME";
inline constexpr char16_t kOsWindowsNt[] = u"Windows NT";
inline constexpr char16_t kOsWindows2000[] = u"Windows 2000";
inline constexpr char16_t kOsWindowsXp[] = u"Windows XP";

// The system's name from its version record; no record (the query failed) gives "NONE".
std::u16string OperatingSystemNameFor(const std::optional<VersionRecord>& record);

// Vista and later (NT 6 and on): no Active Desktop, no page as the wallpaper.
bool IsVistaOrLater(const std::optional<VersionRecord>& record);
// NT 4 (with Internet Explorer 4's desktop update), 2000 and XP: an Active Desktop kept off
// unless asked.
bool IsNtBeforeVista(const std::optional<VersionRecord>& record);

}  // namespace tarnwick
