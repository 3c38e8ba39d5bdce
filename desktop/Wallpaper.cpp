#include "desktop/WallpaperShell.h"

#include "base/AppError.h"

namespace tarnwick {

namespace {
void Check(IWallpaperShell& shell, int32_t hr, const char* call)
{
    if (hr < 0)
        throw AppError(static_cast<uint32_t>(hr), shell.DescribeStatus(hr),
                       std::string("The desktop wallpaper could not be set: ") + call + " failed.");
}
}  // namespace

void SetWallpaper(IWallpaperShell& shell, const std::u16string& path, int32_t style, bool turnOnActiveDesktop)
{
    const std::u16string localPath = path;
    std::unique_ptr<IActiveDesktopObject> desktop = shell.CreateActiveDesktop();

    WallpaperOptions options;
    options.dwSize = sizeof(WallpaperOptions);
    options.dwStyle = static_cast<uint32_t>(style);
    Check(shell, desktop->SetWallpaperOptions(options, 0), "IActiveDesktop::SetWallpaperOptions");
    Check(shell, desktop->SetWallpaper(localPath, 0), "IActiveDesktop::SetWallpaper");
    if (turnOnActiveDesktop) {
        DesktopItemOptions items;
        items.dwSize = sizeof(DesktopItemOptions);
        Check(shell, desktop->GetDesktopItemOptions(items, 0), "IActiveDesktop::GetDesktopItemOptions");
        if (!items.fActiveDesktop) {
            items.dwSize = sizeof(DesktopItemOptions);
            items.fActiveDesktop = 1;
            Check(shell, desktop->SetDesktopItemOptions(items, 0), "IActiveDesktop::SetDesktopItemOptions");
        }
    }
    Check(shell, desktop->ApplyChanges(kApplyAll), "IActiveDesktop::ApplyChanges");
}

}  // namespace tarnwick
