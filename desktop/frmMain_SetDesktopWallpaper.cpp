// frmMain's wallpaper routine, over the platform's shell.
#include "app/frmMain.h"
#include "desktop/WallpaperShell.h"

namespace tarnwick {

void frmMain::SetDesktopWallpaper(const std::u16string& path, int32_t style, bool turnOnActiveDesktop)
{
    SetWallpaper(platform_.wallpaper, path, style, turnOnActiveDesktop);
}

}  // namespace tarnwick
