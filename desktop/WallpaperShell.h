// The shell's Active Desktop object, as the wallpaper routine uses it. On Windows this is the
// real COM object; on Linux the stand-alone desktop stands behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick {

// The shell's WALLPAPEROPT record.
struct WallpaperOptions {
    uint32_t dwSize = sizeof(WallpaperOptions);
    uint32_t dwStyle = 0;
};
static_assert(sizeof(WallpaperOptions) == 8);

// The shell's COMPONENTSOPT record: whether the desktop shows its items and its web content (the
// Active Desktop) at all.
struct DesktopItemOptions {
    uint32_t dwSize = sizeof(DesktopItemOptions);
    int32_t fEnableComponents = 0;
    int32_t fActiveDesktop = 0;
};
static_assert(sizeof(DesktopItemOptions) == 12);

inline constexpr uint32_t kWallpaperStyleStretch = 2;
// Save the settings (1), regenerate the desktop's HTML (2), refresh the desktop (4).
inline constexpr uint32_t kApplySave = 1;
inline constexpr uint32_t kApplyHtmlGen = 2;
inline constexpr uint32_t kApplyRefresh = 4;
inline constexpr uint32_t kApplyAll = kApplySave | kApplyHtmlGen | kApplyRefresh;
// GetWallpaper on Vista and later: the wallpaper as last applied, not its converted bitmap.
inline constexpr uint32_t kGetWallpaperLastApplied = 2;

// One instance of the Active Desktop object; destroying it releases the object.
// Every call returns an HRESULT: negative is a failure.
class IActiveDesktopObject {
public:
    virtual ~IActiveDesktopObject() = default;
    virtual int32_t SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved) = 0;
    // Reads the wallpaper's style into options, whose dwSize the caller sets.
    virtual int32_t GetWallpaperOptions(WallpaperOptions& options, uint32_t reserved) = 0;
    virtual int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) = 0;
    // Reads the wallpaper's path (empty where there is none) into path; flags as the shell's
    // (0 before Vista; kGetWallpaperLastApplied on Vista and later).
    virtual int32_t GetWallpaper(std::u16string& path, uint32_t flags) = 0;
    virtual int32_t ApplyChanges(uint32_t flags) = 0;
    // Reads the desktop's item options into options, whose dwSize the caller sets.
    virtual int32_t GetDesktopItemOptions(DesktopItemOptions& options, uint32_t reserved) = 0;
    virtual int32_t SetDesktopItemOptions(const DesktopItemOptions& options, uint32_t reserved) = 0;
};

class IWallpaperShell {
public:
    virtual ~IWallpaperShell() = default;
    // Creates the object; a failure throws AppError carrying the HRESULT.
    virtual std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() = 0;
    // The system's description of a failing HRESULT.
    virtual std::string DescribeStatus(int32_t hr) = 0;
};

// What the wallpaper routine does with the desktop's web content (the Active Desktop).
enum class WebContent {
    Leave,
    // Read just before the changes are applied and, where off, set on (the NT systems keep it off
    // by default, and a page wallpaper shows only with it on). After applying it is read again
    // from a new object: where it is still off (a policy such as NoActiveDesktop or ClassicShell
    // keeps it so), the page cannot show: the wallpaper and its style as they were before (read
    // first) are put back, and AppError says so.
    TurnOn,
    // Set off with the wallpaper, in the same changes.
    TurnOff,
};

// The wallpaper routine: one Active Desktop object per call, options first, then the wallpaper,
// then the changes applied once. A failing status (negative) raises AppError, which says whether
// the wallpaper could not be set or (an empty path) cleared. Answers whether it turned the web
// content on (TurnOn, where it was off).
bool SetWallpaper(IWallpaperShell& shell, const std::u16string& path, int32_t style,
                  WebContent webContent = WebContent::Leave);

// Vista and later: clears the wallpaper (style and empty path, as SetWallpaper) only where it is
// ours, the page at ourPage (compared without regard to the case of ASCII letters, as Windows compares paths);
// any other wallpaper is left as it is. Answers whether it cleared it. A wallpaper that cannot be
// read is left as it is, and AppError says so.
bool ClearWallpaperIfOurs(IWallpaperShell& shell, const std::u16string& ourPage, int32_t style);

}  // namespace tarnwick
