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

// One instance of the Active Desktop object; destroying it releases the object.
// Every call returns an HRESULT: negative is a failure.
class IActiveDesktopObject {
public:
    virtual ~IActiveDesktopObject() = default;
    virtual int32_t SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved) = 0;
    virtual int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) = 0;
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

// The wallpaper routine: one Active Desktop object per call, options first, then the wallpaper,
// then the changes applied once. With turnOnActiveDesktop, the desktop's item options are read
// just before the changes are applied and, where the Active Desktop is off, set with it on (the
// NT systems keep it off by default, and a page wallpaper shows only with it on). A failing
// status (negative) raises AppError.
void SetWallpaper(IWallpaperShell& shell, const std::u16string& path, int32_t style, bool turnOnActiveDesktop = false);

}  // namespace tarnwick
