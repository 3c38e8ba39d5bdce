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

bool SetWallpaper(IWallpaperShell& shell, const std::u16string& path, int32_t style, WebContent webContent)
{
    const std::u16string localPath = path;
    std::unique_ptr<IActiveDesktopObject> desktop = shell.CreateActiveDesktop();

    WallpaperOptions options;
    options.dwSize = sizeof(WallpaperOptions);
    options.dwStyle = static_cast<uint32_t>(style);
    Check(shell, desktop->SetWallpaperOptions(options, 0), "IActiveDesktop::SetWallpaperOptions");
    Check(shell, desktop->SetWallpaper(localPath, 0), "IActiveDesktop::SetWallpaper");
    bool turnedOn = false;
    if (webContent != WebContent::Leave) {
        DesktopItemOptions items;
        items.dwSize = sizeof(DesktopItemOptions);
        Check(shell, desktop->GetDesktopItemOptions(items, 0), "IActiveDesktop::GetDesktopItemOptions");
        const int32_t wanted = webContent == WebContent::TurnOn ? 1 : 0;
        if ((items.fActiveDesktop != 0) != (wanted != 0)) {
            items.dwSize = sizeof(DesktopItemOptions);
            items.fActiveDesktop = wanted;
            Check(shell, desktop->SetDesktopItemOptions(items, 0), "IActiveDesktop::SetDesktopItemOptions");
            turnedOn = wanted != 0;
        }
    }
    Check(shell, desktop->ApplyChanges(kApplyAll), "IActiveDesktop::ApplyChanges");
    desktop.reset();

    if (webContent == WebContent::TurnOn) {
        // Read back from a new object, as the shell now has it.
        std::unique_ptr<IActiveDesktopObject> applied = shell.CreateActiveDesktop();
        DesktopItemOptions items;
        items.dwSize = sizeof(DesktopItemOptions);
        Check(shell, applied->GetDesktopItemOptions(items, 0), "IActiveDesktop::GetDesktopItemOptions");
        if (!items.fActiveDesktop)
            throw AppError(kErrorDisabledByPolicy, DescribeSystemError(kErrorDisabledByPolicy),
                           "The page was set as the desktop wallpaper, but it does not show: this system's policy "
                           "keeps the desktop's web content (the Active Desktop) off. An administrator can allow it "
                           "(the policies NoActiveDesktop and ClassicShell turn it off).");
    }
    return turnedOn;
}

namespace {
bool SamePath(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return true;
}
}  // namespace

bool ClearWallpaperIfOurs(IWallpaperShell& shell, const std::u16string& ourPage, int32_t style)
{
    std::unique_ptr<IActiveDesktopObject> desktop = shell.CreateActiveDesktop();
    std::u16string current;
    Check(shell, desktop->GetWallpaper(current, kGetWallpaperLastApplied), "IActiveDesktop::GetWallpaper");
    if (!SamePath(current, ourPage))
        return false;
    WallpaperOptions options;
    options.dwSize = sizeof(WallpaperOptions);
    options.dwStyle = static_cast<uint32_t>(style);
    Check(shell, desktop->SetWallpaperOptions(options, 0), "IActiveDesktop::SetWallpaperOptions");
    Check(shell, desktop->SetWallpaper(u"", 0), "IActiveDesktop::SetWallpaper");
    Check(shell, desktop->ApplyChanges(kApplyAll), "IActiveDesktop::ApplyChanges");
    return true;
}

}  // namespace tarnwick
