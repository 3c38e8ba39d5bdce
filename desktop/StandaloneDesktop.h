// The desktop where there is no Windows shell: the wallpaper setting is kept where Windows'
// shell keeps it, in the per-user registry (HKEY_CURRENT_USER\Control Panel\Desktop, text values
// Wallpaper and WallpaperStyle), written through the registry operations when the changes are
// applied with the save flag. The store keeps text in the ANSI code page, so a wallpaper path
// with characters beyond it is refused when it is set: written, it would name another file.
#pragma once

#include "desktop/WallpaperShell.h"
#include "registry/RegistryOps.h"

namespace tarnwick {

inline constexpr char kDesktopKey[] = "Control Panel\\Desktop";
inline constexpr char kWallpaperValue[] = "Wallpaper";
inline constexpr char kWallpaperStyleValue[] = "WallpaperStyle";

// HRESULTs the stand-alone desktop answers with.
inline constexpr int32_t kSOk = 0;
inline constexpr int32_t kEInvalidArg = static_cast<int32_t>(0x80070057u);
// HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION): a path the store's code page cannot hold.
inline constexpr int32_t kENoUnicodeTranslation = static_cast<int32_t>(0x80070459u);
inline constexpr int32_t HResultFromWin32(int32_t status)
{
    return status <= 0 ? status : static_cast<int32_t>((static_cast<uint32_t>(status) & 0xFFFFu) | 0x80070000u);
}

class StandaloneDesktop : public IWallpaperShell {
public:
    explicit StandaloneDesktop(IRegistryOps& registry) : registry_(registry) {}

    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override;
    std::string DescribeStatus(int32_t hr) override;

private:
    IRegistryOps& registry_;
};

}  // namespace tarnwick
