#include "app/OperatingSystem.h"

namespace tarnwick {

std::u16string OperatingSystemNameFor(const std::optional<VersionRecord>& record)
{
    if (!record)
        return kOsNone;
    const int32_t major = record->majorVersion;
    const int32_t minor = record->minorVersion;
    switch (record->platformId) {
    case 0:  // VER_PLATFORM_WIN32s
        return kOsWin32s;
    case 1:  // VER_PLATFORM_WIN32_WINDOWS
        // 4.90 (Millennium) lands on "Windows 98": only a major version of 5 or more reads as ME.
        if (major >= 5)
            return kOsWindowsMe;
        if (major == 4 && minor > 0)
            return kOsWindows98;
        return kOsWindows95;
    case 2:  // VER_PLATFORM_WIN32_NT
        if (major < 5)
            return kOsWindowsNt;
        if (minor == 0)
            return kOsWindows2000;
        return kOsWindowsXp;
    default:
        return kOsNone;
    }
}

namespace {
constexpr int32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT
}

bool IsVistaOrLater(const std::optional<VersionRecord>& record)
{
    return record && record->platformId == kPlatformNt && record->majorVersion >= 6;
}

bool IsNtBeforeVista(const std::optional<VersionRecord>& record)
{
    return record && record->platformId == kPlatformNt && record->majorVersion < 6;
}

}  // namespace tarnwick
