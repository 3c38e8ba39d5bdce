#include "desktop/WallpaperShell.h"

#include "base/AnsiText.h"
#include "base/AppError.h"

namespace tarnwick {

namespace {
constexpr char kNotSet[] = "The desktop wallpaper could not be set";
constexpr char kNotCleared[] = "The desktop wallpaper could not be cleared";

// A failing status raises AppError: "<failure>: <call> failed."
void Check(IWallpaperShell& shell, int32_t hr, const char* call, const std::string& failure)
{
    if (hr < 0)
        throw AppError(static_cast<uint32_t>(hr), shell.DescribeStatus(hr), failure + ": " + call + " failed.");
}

// The wallpaper as the person had it.
struct Wallpaper {
    std::u16string path;
    WallpaperOptions options;
};

Wallpaper ReadWallpaper(IWallpaperShell& shell, IActiveDesktopObject& desktop, const std::string& failure)
{
    Wallpaper wallpaper;
    Check(shell, desktop.GetWallpaper(wallpaper.path, 0), "IActiveDesktop::GetWallpaper", failure);
    wallpaper.options.dwSize = sizeof(WallpaperOptions);
    Check(shell, desktop.GetWallpaperOptions(wallpaper.options, 0), "IActiveDesktop::GetWallpaperOptions", failure);
    return wallpaper;
}

std::string Named(const std::u16string& path)
{
    return path.empty() ? "none" : ToUtf8(path);
}
}  // namespace

bool SetWallpaper(IWallpaperShell& shell, const std::u16string& path, int32_t style, WebContent webContent)
{
    const std::string failure = path.empty() ? kNotCleared : kNotSet;
    std::unique_ptr<IActiveDesktopObject> desktop = shell.CreateActiveDesktop();
    // Where the page may not show, the wallpaper it replaces, to put back then.
    Wallpaper before;
    if (webContent == WebContent::TurnOn)
        before = ReadWallpaper(shell, *desktop, failure + " (the wallpaper there could not be read first)");

    WallpaperOptions options;
    options.dwSize = sizeof(WallpaperOptions);
    options.dwStyle = static_cast<uint32_t>(style);
    Check(shell, desktop->SetWallpaperOptions(options, 0), "IActiveDesktop::SetWallpaperOptions", failure);
    Check(shell, desktop->SetWallpaper(path, 0), "IActiveDesktop::SetWallpaper", failure);
    bool turnedOn = false;
    if (webContent != WebContent::Leave) {
        DesktopItemOptions items;
        items.dwSize = sizeof(DesktopItemOptions);
        Check(shell, desktop->GetDesktopItemOptions(items, 0), "IActiveDesktop::GetDesktopItemOptions", failure);
        const int32_t wanted = webContent == WebContent::TurnOn ? 1 : 0;
        if ((items.fActiveDesktop != 0) != (wanted != 0)) {
            items.dwSize = sizeof(DesktopItemOptions);
            items.fActiveDesktop = wanted;
            Check(shell, desktop->SetDesktopItemOptions(items, 0), "IActiveDesktop::SetDesktopItemOptions", failure);
            turnedOn = wanted != 0;
        }
    }
    Check(shell, desktop->ApplyChanges(kApplyAll), "IActiveDesktop::ApplyChanges", failure);
    desktop.reset();

    if (webContent == WebContent::TurnOn) {
        // Read back from a new object, as the shell now has it.
        std::unique_ptr<IActiveDesktopObject> applied = shell.CreateActiveDesktop();
        DesktopItemOptions items;
        items.dwSize = sizeof(DesktopItemOptions);
        Check(shell, applied->GetDesktopItemOptions(items, 0), "IActiveDesktop::GetDesktopItemOptions", failure);
        if (!items.fActiveDesktop) {
            // The page does not show: the person's wallpaper goes back, on the same object.
            const std::string shownNot = "The page " + ToUtf8(path) +
                                         " does not show as the desktop wallpaper: this system's policy keeps the "
                                         "desktop's web content (the Active Desktop) off";
            const std::string notBack =
                shownNot + ", and the wallpaper you had (" + Named(before.path) + ") could not be put back";
            Check(shell, applied->SetWallpaperOptions(before.options, 0), "IActiveDesktop::SetWallpaperOptions",
                  notBack);
            Check(shell, applied->SetWallpaper(before.path, 0), "IActiveDesktop::SetWallpaper", notBack);
            Check(shell, applied->ApplyChanges(kApplyAll), "IActiveDesktop::ApplyChanges", notBack);
            throw AppError(kErrorDisabledByPolicy, "A policy keeps the desktop's web content off",
                           shownNot + ". The wallpaper you had (" + Named(before.path) +
                               ") was put back. An administrator can allow the web content (the policies "
                               "NoActiveDesktop and ClassicShell turn it off).");
        }
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
    Check(shell, desktop->GetWallpaper(current, kGetWallpaperLastApplied), "IActiveDesktop::GetWallpaper",
          "The desktop wallpaper could not be read, so it was left as it was");
    if (!SamePath(current, ourPage))
        return false;
    WallpaperOptions options;
    options.dwSize = sizeof(WallpaperOptions);
    options.dwStyle = static_cast<uint32_t>(style);
    Check(shell, desktop->SetWallpaperOptions(options, 0), "IActiveDesktop::SetWallpaperOptions", kNotCleared);
    Check(shell, desktop->SetWallpaper(u"", 0), "IActiveDesktop::SetWallpaper", kNotCleared);
    Check(shell, desktop->ApplyChanges(kApplyAll), "IActiveDesktop::ApplyChanges", kNotCleared);
    return true;
}

}  // namespace tarnwick
