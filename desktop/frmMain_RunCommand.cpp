// frmMain's Run command: the page, then (Vista and later aside, which are told they cannot show
// it) ShellState on the Windows 95 family, then the wallpaper, with the Active Desktop turned on
// on the older NT systems, then the end of the program.
#include "app/OperatingSystem.h"
#include "app/frmMain.h"
#include "base/AppError.h"
#include "desktop/ShellState.h"
#include "desktop/WallpaperShell.h"

namespace tarnwick {

namespace {

constexpr int32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT

// Vista and later have no Active Desktop: the shell takes a page as the wallpaper and shows
// nothing, so the user's picture would be lost for a blank desktop.
bool ShowsNoPageWallpaper(const std::optional<VersionRecord>& version)
{
    return version && version->platformId == kPlatformNt && version->majorVersion >= 6;
}

// NT 4 with the desktop update, 2000 and XP keep the Active Desktop off unless asked.
bool NeedsActiveDesktopTurnedOn(const std::optional<VersionRecord>& version)
{
    return version && version->platformId == kPlatformNt && version->majorVersion < 6;
}

}  // namespace

void frmMain::RunCommand()
{
    BuildDesktopPage();

    if (ShowsNoPageWallpaper(SystemVersion))
        throw AppError(kErrorNotSupported, DescribeSystemError(kErrorNotSupported),
                       "The page was written to " + PagePath().ToUtf8() +
                           ", but it cannot become the desktop wallpaper: this Windows no longer shows a page as the "
                           "desktop wallpaper (the Active Desktop shows pages only up to Windows XP). The wallpaper "
                           "was left as it was.");

    const std::u16string& os = OperatingSystemName;
    if (os == kOsWindows95 || os == kOsWindows98 || os == kOsWindowsMe) {
        if (!Registry)
            Registry = std::make_unique<clsRegistry>(platform_.registry);
        // Results are not looked at: a missing value or key changes nothing, and the wallpaper
        // is set whatever the registry said.
        Registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, kExplorerKey, kShellStateName);
        Registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, kExplorerKey, kShellStateName,
                                   TypedValue::Bytes(ShellStateBytes()), 0);
    }
    SetDesktopWallpaper(PagePath().ToUtf16(), kWallpaperStyleStretch, NeedsActiveDesktopTurnedOn(SystemVersion));
    platform_.programEnd.EndProgram();
}

}  // namespace tarnwick
