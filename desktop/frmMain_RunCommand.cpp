// frmMain's Run command: the page, then ShellState on the Windows 95 family, then the wallpaper,
// then the end of the program.
#include "app/OperatingSystem.h"
#include "app/frmMain.h"
#include "desktop/ShellState.h"
#include "desktop/WallpaperShell.h"

namespace tarnwick {

void frmMain::RunCommand()
{
    BuildDesktopPage();

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
    SetDesktopWallpaper(PagePath().ToUtf16(), kWallpaperStyleStretch);
    platform_.programEnd.EndProgram();
}

}  // namespace tarnwick
