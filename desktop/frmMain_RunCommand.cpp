// frmMain's Run and Close commands. Run: the page, then on Vista and later the page's picture as
// the wallpaper (PageWallpaper.h); before Vista ShellState on the Windows 95 family once the
// Active Desktop object is seen to exist, then the
// wallpaper, with the Active Desktop turned on on the older NT systems; then the end of the
// program. Close: on Vista and later the person's own wallpaper back where the desktop shows our
// picture, else our page cleared where an older Windows' Run left it; before Vista the wallpaper
// cleared, and on the older NT systems the Active Desktop turned off again where Run turned it on.
#include "app/OperatingSystem.h"
#include "app/frmMain.h"
#include "base/AnsiText.h"
#include "base/AppError.h"
#include "desktop/PageWallpaper.h"
#include "desktop/ShellState.h"
#include "desktop/WallpaperShell.h"

namespace tarnwick {

namespace {

constexpr int32_t kCloseStyle = 2;

std::string CompatibilityNote(const std::optional<VersionRecord>& version)
{
    if (!version || !version->compatibilityMode)
        return "";
    return " Tarnwick runs in a compatibility mode for an older Windows, which it does not need: it knows this "
           "Windows all the same. The mode is turned off in the program's Properties, on the Compatibility tab.";
}

}  // namespace

void frmMain::RunCommand()
{
    BuildDesktopPage();

    // Vista and later have no Active Desktop: the shell takes a page as the wallpaper and shows
    // nothing, so the page goes there as a picture. Under a compatibility mode the version
    // record is still the real one.
    if (IsVistaOrLater(SystemVersion) && platform_.pageEngine && platform_.pictureDesktop) {
        try {
            PageWallpaper(*platform_.pageEngine, *platform_.pictureDesktop).Show(PagePath());
        } catch (const AppError& error) {
            throw AppError(error.Number(), error.Description(), error.Context() + CompatibilityNote(SystemVersion));
        }
        if (const std::string note = CompatibilityNote(SystemVersion); !note.empty())
            platform_.messageBox.Show(FromUtf8("The page is the desktop wallpaper." + note), kProgramTitle);
        platform_.programEnd.EndProgram();
        return;
    }
    if (IsVistaOrLater(SystemVersion))
        throw AppError(kErrorNotSupported, DescribeSystemError(kErrorNotSupported),
                       "The page was written to " + PagePath().ToUtf8() +
                           ", but it cannot become the desktop wallpaper: this Windows no longer shows a page as the "
                           "desktop wallpaper (the Active Desktop shows pages only up to Windows XP). The wallpaper "
                           "was left as it was." +
                           CompatibilityNote(SystemVersion));

    const std::u16string& os = OperatingSystemName;
    if (os == kOsWindows95 || os == kOsWindows98 || os == kOsWindowsMe) {
        // The Active Desktop object first: Windows 95 without Internet Explorer 4's desktop update
        // has none, and Run then ends in its report with the person's Explorer settings as they
        // were. The object that sets the wallpaper is made after ShellState is written, as it
        // reads the shell's settings.
        platform_.wallpaper.CreateActiveDesktop();
        // Results are not looked at: a missing value or key changes nothing, and the wallpaper
        // is set whatever the registry said.
        OpenRegistry().DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, kExplorerKey, kShellStateName);
        OpenRegistry().SetRegistryValue(HKEY_CURRENT_USER_VALUE, kExplorerKey, kShellStateName,
                                        TypedValue::Bytes(ShellStateBytes()), 0);
    }
    const bool olderNt = IsNtBeforeVista(SystemVersion);
    const bool turnedOn = SetDesktopWallpaper(PagePath().ToUtf16(), kWallpaperStyleStretch,
                                              olderNt ? WebContent::TurnOn : WebContent::Leave);
    // Close gives the setting back: recorded only once the desktop shows it on.
    if (turnedOn && !OpenRegistry().SetRegistryValue(HKEY_CURRENT_USER_VALUE, kProgramKey, kWebContentValue,
                                                     TypedValue::Long(1), 0)) {
        const auto status = static_cast<uint32_t>(OpenRegistry().LastStatus());
        throw AppError(status, DescribeSystemError(status),
                       "The page is the desktop wallpaper and the desktop's web content (the Active Desktop) was "
                       "turned on for it, but the registry refused the note of that in HKEY_CURRENT_USER\\Software\\"
                       "Tarnwick, so Close will leave the web content on.");
    }
    platform_.programEnd.EndProgram();
}

void frmMain::CloseCommand()
{
    if (IsVistaOrLater(SystemVersion)) {
        // Our picture gives way to the person's own; else an older Windows' Run may have left our
        // page, and any other wallpaper is the person's own.
        const bool ours = platform_.pageEngine && platform_.pictureDesktop &&
                          PageWallpaper(*platform_.pageEngine, *platform_.pictureDesktop).Restore();
        if (!ours)
            ClearWallpaperIfOurs(platform_.wallpaper, PagePath().ToUtf16(), kCloseStyle);
    } else if (IsNtBeforeVista(SystemVersion) &&
               OpenRegistry().DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, kProgramKey, kWebContentValue)) {
        // Run turned the web content on: off again, with the wallpaper. Where that fails, the
        // record goes back, so that the next Close tries again.
        try {
            SetDesktopWallpaper(u"", kCloseStyle, WebContent::TurnOff);
        } catch (...) {
            OpenRegistry().SetRegistryValue(HKEY_CURRENT_USER_VALUE, kProgramKey, kWebContentValue, TypedValue::Long(1),
                                            0);
            throw;
        }
    } else {
        SetDesktopWallpaper(u"", kCloseStyle);
    }
    platform_.programEnd.EndProgram();
}

}  // namespace tarnwick
