// frmMain's wallpaper routine, over the platform's shell.
#include "app/frmMain.h"
#include "desktop/WallpaperShell.h"

namespace tarnwick {

bool frmMain::SetDesktopWallpaper(const std::u16string& path, int32_t style, WebContent webContent)
{
    return SetWallpaper(platform_.wallpaper, path, style, webContent);
}

clsRegistry& frmMain::OpenRegistry()
{
    if (!Registry)
        Registry = std::make_unique<clsRegistry>(platform_.registry);
    return *Registry;
}

}  // namespace tarnwick
