#include "desktop/win32/ActiveDesktopShell.h"

#include <windows.h>
#include <wininet.h>
#include <shlobj.h>

#include <utility>

#include "base/AppError.h"
#include "base/win32/Owners.h"

namespace tarnwick {

namespace {

// {75048700-EF1F-11D0-9888-006097DEACF9}
constexpr CLSID kClsidActiveDesktop = {0x75048700, 0xEF1F, 0x11D0, {0x98, 0x88, 0x00, 0x60, 0x97, 0xDE, 0xAC, 0xF9}};
// {F490EB00-1240-11D1-9888-006097DEACF9}
constexpr IID kIidActiveDesktop = {0xF490EB00, 0x1240, 0x11D1, {0x98, 0x88, 0x00, 0x60, 0x97, 0xDE, 0xAC, 0xF9}};

static_assert(sizeof(COMPONENTSOPT) == sizeof(DesktopItemOptions));

class ComActiveDesktop : public IActiveDesktopObject {
public:
    explicit ComActiveDesktop(win32::ComPtr<IActiveDesktop> desktop) : desktop_(std::move(desktop)) {}

    int32_t SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved) override
    {
        WALLPAPEROPT record{};
        record.dwSize = options.dwSize;
        record.dwStyle = options.dwStyle;
        return desktop_->SetWallpaperOptions(&record, reserved);
    }

    int32_t GetWallpaperOptions(WallpaperOptions& options, uint32_t reserved) override
    {
        WALLPAPEROPT record{};
        record.dwSize = options.dwSize;
        const HRESULT hr = desktop_->GetWallpaperOptions(&record, reserved);
        if (SUCCEEDED(hr))
            options.dwStyle = record.dwStyle;
        return hr;
    }

    int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) override
    {
        return desktop_->SetWallpaper(reinterpret_cast<const wchar_t*>(path.c_str()), reserved);
    }

    int32_t GetWallpaper(std::u16string& path, uint32_t flags) override
    {
        wchar_t buffer[MAX_PATH + 1] = {};
        const HRESULT hr = desktop_->GetWallpaper(buffer, MAX_PATH + 1, flags);
        if (SUCCEEDED(hr))
            path.assign(reinterpret_cast<const char16_t*>(buffer));
        return hr;
    }

    int32_t ApplyChanges(uint32_t flags) override { return desktop_->ApplyChanges(flags); }

    int32_t GetDesktopItemOptions(DesktopItemOptions& options, uint32_t reserved) override
    {
        COMPONENTSOPT record{};
        record.dwSize = options.dwSize;
        const HRESULT hr = desktop_->GetDesktopItemOptions(&record, reserved);
        if (SUCCEEDED(hr)) {
            options.fEnableComponents = record.fEnableComponents;
            options.fActiveDesktop = record.fActiveDesktop;
        }
        return hr;
    }

    int32_t SetDesktopItemOptions(const DesktopItemOptions& options, uint32_t reserved) override
    {
        COMPONENTSOPT record{};
        record.dwSize = options.dwSize;
        record.fEnableComponents = options.fEnableComponents;
        record.fActiveDesktop = options.fActiveDesktop;
        return desktop_->SetDesktopItemOptions(&record, reserved);
    }

private:
    win32::ComPtr<IActiveDesktop> desktop_;
};

}  // namespace

std::unique_ptr<IActiveDesktopObject> ActiveDesktopShell::CreateActiveDesktop()
{
    win32::ComPtr<IActiveDesktop> desktop;
    HRESULT hr =
        CoCreateInstance(kClsidActiveDesktop, nullptr, CLSCTX_INPROC_SERVER, kIidActiveDesktop, desktop.put_void());
    if (FAILED(hr))
        // Wine has no text for a class that is not registered.
        throw AppError(static_cast<uint32_t>(hr),
                       hr == REGDB_E_CLASSNOTREG ? "No Active Desktop class is registered" : DescribeStatus(hr),
                       "The desktop wallpaper could not be set: the Active Desktop object could not be created "
                       "(Windows 95 and NT 4 have it only with the desktop update of Internet Explorer 4).");
    if (!desktop)
        throw AppError(static_cast<uint32_t>(E_POINTER), "The shell answered success but gave no object",
                       "The desktop wallpaper could not be set: the Active Desktop object could not be created.");
    return std::make_unique<ComActiveDesktop>(std::move(desktop));
}

std::string ActiveDesktopShell::DescribeStatus(int32_t hr)
{
    return DescribeSystemError(static_cast<uint32_t>(hr));
}

}  // namespace tarnwick
