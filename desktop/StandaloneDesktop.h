// The desktop where there is no Windows shell: the wallpaper setting is kept where Windows'
// shell keeps it, in the per-user registry (HKEY_CURRENT_USER\Control Panel\Desktop, text values
// Wallpaper and WallpaperStyle), written through the registry operations when the changes are
// applied with the save flag. The store keeps text in the ANSI code page: a wallpaper path with
// characters beyond it (or bytes that are not UTF-8) is not written, since it would name another
// file; the Wallpaper value is removed instead, so the record says that none is recorded. The
// wallpaper itself is still set.
#pragma once

#include <optional>
#include <string>

#include "desktop/WallpaperShell.h"
#include "registry/RegistryOps.h"

namespace tarnwick {

inline constexpr char kDesktopKey[] = "Control Panel\\Desktop";
inline constexpr char kWallpaperValue[] = "Wallpaper";
inline constexpr char kWallpaperStyleValue[] = "WallpaperStyle";

// HRESULTs the stand-alone desktop answers with.
inline constexpr int32_t kSOk = 0;
inline constexpr int32_t kEInvalidArg = static_cast<int32_t>(0x80070057u);
inline constexpr int32_t HResultFromWin32(int32_t status)
{
    return status <= 0 ? status : static_cast<int32_t>((static_cast<uint32_t>(status) & 0xFFFFu) | 0x80070000u);
}

// The wallpaper record in the per-user registry, as the stand-alone desktops keep it. Every
// call answers an HRESULT.
class WallpaperRecord {
public:
    explicit WallpaperRecord(IRegistryOps& registry) : registry_(registry) {}

    // Reads the store without changing it: a store that cannot be read fails here, before
    // anything else is changed.
    int32_t Check();
    // Writes what is given: the path (removed where the store cannot spell it) and the style.
    int32_t Write(const std::optional<std::u16string>& path, std::optional<uint32_t> style);

private:
    int32_t SetText(RegKey key, const char* name, const std::string& text);

    IRegistryOps& registry_;
};

// What an Active Desktop object of the stand-alone desktops holds between its calls: the style,
// the path and the item options, each checked as the shell checks them. Applying is theirs.
class ActiveDesktopSettings : public IActiveDesktopObject {
public:
    int32_t SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved) override;
    int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) override;
    // The style this object was given, else 0 (centred), as GetWallpaper answers.
    int32_t GetWallpaperOptions(WallpaperOptions& options, uint32_t reserved) override;
    // The wallpaper this object was given, else none: the record is only ever written (the
    // registry operations have no read), so these desktops know no earlier wallpaper.
    int32_t GetWallpaper(std::u16string& path, uint32_t flags) override;
    // The item options live as long as the object: nothing here shows them, so nothing keeps
    // them. Items and web content start on: these desktops show their wallpaper page.
    int32_t GetDesktopItemOptions(DesktopItemOptions& options, uint32_t reserved) override;
    int32_t SetDesktopItemOptions(const DesktopItemOptions& options, uint32_t reserved) override;

protected:
    std::optional<uint32_t> style_;
    std::optional<std::u16string> path_;
    DesktopItemOptions items_{sizeof(DesktopItemOptions), 1, 1};
};

// The description of the HRESULTs the stand-alone desktops answer with.
std::string DescribeDesktopStatus(int32_t hr);

class StandaloneDesktop : public IWallpaperShell {
public:
    explicit StandaloneDesktop(IRegistryOps& registry) : registry_(registry) {}

    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override;
    std::string DescribeStatus(int32_t hr) override;

private:
    IRegistryOps& registry_;
};

}  // namespace tarnwick
