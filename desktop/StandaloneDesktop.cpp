#include "desktop/StandaloneDesktop.h"

#include <optional>
#include <string>

#include "base/AnsiText.h"
#include "registry/ScopedRegKey.h"

namespace tarnwick {

namespace {

class StandaloneActiveDesktop : public ActiveDesktopSettings {
public:
    explicit StandaloneActiveDesktop(IRegistryOps& registry) : record_(registry) {}

    int32_t ApplyChanges(uint32_t flags) override
    {
        if ((flags & kApplySave) == 0)
            return kSOk;  // nothing is kept without the save flag
        return record_.Write(path_, style_);
    }

private:
    WallpaperRecord record_;
};

}  // namespace

int32_t ActiveDesktopSettings::SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved)
{
    if (options.dwSize != sizeof(WallpaperOptions) || reserved != 0)
        return kEInvalidArg;
    style_ = options.dwStyle;
    return kSOk;
}

int32_t ActiveDesktopSettings::GetWallpaperOptions(WallpaperOptions& options, uint32_t reserved)
{
    if (options.dwSize != sizeof(WallpaperOptions) || reserved != 0)
        return kEInvalidArg;
    options.dwStyle = style_.value_or(0);
    return kSOk;
}

int32_t ActiveDesktopSettings::SetWallpaper(const std::u16string& path, uint32_t reserved)
{
    if (reserved != 0)
        return kEInvalidArg;
    path_ = path;
    return kSOk;
}

int32_t ActiveDesktopSettings::GetWallpaper(std::u16string& path, uint32_t flags)
{
    if (flags > kGetWallpaperLastApplied)
        return kEInvalidArg;
    path = path_.value_or(u"");
    return kSOk;
}

int32_t ActiveDesktopSettings::GetDesktopItemOptions(DesktopItemOptions& options, uint32_t reserved)
{
    if (options.dwSize != sizeof(DesktopItemOptions) || reserved != 0)
        return kEInvalidArg;
    options = items_;
    return kSOk;
}

int32_t ActiveDesktopSettings::SetDesktopItemOptions(const DesktopItemOptions& options, uint32_t reserved)
{
    if (options.dwSize != sizeof(DesktopItemOptions) || reserved != 0)
        return kEInvalidArg;
    items_ = options;
    return kSOk;
}

int32_t WallpaperRecord::Check()
{
    RegKey opened = 0;
    const int32_t status = registry_.RegOpenKeyExA(HKEY_CURRENT_USER_VALUE, kDesktopKey, 0, kKeyAccess, &opened);
    if (status == kErrorFileNotFound)
        return kSOk;  // no record yet: Write makes it
    if (status != kErrorSuccess)
        return HResultFromWin32(status);
    ScopedRegKey key(registry_, opened);
    return kSOk;
}

int32_t WallpaperRecord::Write(const std::optional<std::u16string>& path, std::optional<uint32_t> style)
{
    RegKey opened = 0;
    RegSecurityAttributes security{sizeof(RegSecurityAttributes), nullptr, 0};
    int32_t status = registry_.RegCreateKeyExA(HKEY_CURRENT_USER_VALUE, kDesktopKey, 0, nullptr, 0, kKeyAccess,
                                               &security, &opened, nullptr);
    if (status != kErrorSuccess)
        return HResultFromWin32(status);
    ScopedRegKey key(registry_, opened);
    if (path && FitsAnsi(*path)) {
        status = SetText(key.Get(), kWallpaperValue, ToAnsi(*path));
    } else if (path) {
        // Written in the code page it would name another file; no record is truer than that.
        status = registry_.RegDeleteValueA(key.Get(), kWallpaperValue);
        if (status == kErrorFileNotFound)
            status = kErrorSuccess;
    }
    if (status == kErrorSuccess && style)
        status = SetText(key.Get(), kWallpaperStyleValue, std::to_string(*style));
    return HResultFromWin32(status);
}

int32_t WallpaperRecord::SetText(RegKey key, const char* name, const std::string& text)
{
    std::string data = text;
    data.push_back('\0');
    return registry_.RegSetValueExA(key, name, 0, kRegSz, reinterpret_cast<const uint8_t*>(data.data()),
                                    static_cast<uint32_t>(data.size()));
}

std::unique_ptr<IActiveDesktopObject> StandaloneDesktop::CreateActiveDesktop()
{
    return std::make_unique<StandaloneActiveDesktop>(registry_);
}

std::string StandaloneDesktop::DescribeStatus(int32_t hr)
{
    return DescribeDesktopStatus(hr);
}

std::string DescribeDesktopStatus(int32_t hr)
{
    switch (static_cast<uint32_t>(hr)) {
    case 0x80070057u:
        return "One or more arguments are invalid";
    case 0x80070002u:
        return "The system cannot find the file specified";
    case 0x80070005u:
        return "Access is denied";
    case 0x80070006u:
        return "The handle is invalid";
    case 0x800703F1u:
        return "The configuration registry database is corrupt";
    case 0x800703FAu:
        return "Illegal operation attempted on a registry key that has been marked for deletion";
    default:
        break;
    }
    if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u)
        return "The desktop's registry store failed with status " + std::to_string(hr & 0xFFFF);
    return "Unexpected failure";
}

}  // namespace tarnwick
