// The program's only window, as the platform-free core sees it: the launcher state, the load
// step, the commands and the click handling. The Win32 and Qt windows paint the layout table
// (app/Layout.h) and forward mouse presses and releases here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/Layout.h"
#include "app/Platform.h"
#include "base/TypedValue.h"
#include "desktop/WallpaperShell.h"
#include "registry/clsRegistry.h"

namespace tarnwick {

inline constexpr char16_t kProgramTitle[] = u"Tarnwick";
inline constexpr char16_t kSupportAddress[] = u"support@tarnwick.example.com";
inline constexpr char16_t kSupportWebsite[] = u"https://www.tarnwick.example.com";
// The program's own key under HKEY_CURRENT_USER, and the value by which Run records that it
// turned the desktop's web content on (REG_DWORD 1; Close turns it off again and removes it).
inline constexpr char16_t kProgramKey[] = u"Software\\Tarnwick";
inline constexpr char16_t kWebContentValue[] = u"WebContentTurnedOn";

// "For support contact us at <address> or visit our website at <site>."
std::u16string SupportMessage();

enum class MouseButton { Left, Right, Other };

class frmMain {
public:
    explicit frmMain(Platform& platform);

    // Fills SystemVersion, OperatingSystemName, ScreenWidth and ScreenHeightText.
    void Load();

    std::u16string IdentifyOperatingSystem();

    // Commands. Run and Close end the program through the platform; failures that end the
    // program are raised as AppError. Close takes away only what Run gave: on Vista and later
    // the wallpaper only where it is our page; on NT 4, 2000 and XP the web content only where
    // Run turned it on (its record, kWebContentValue under kProgramKey, says so).
    void RunCommand();
    void CloseCommand();
    void ShowSupport();

    // A press and a release of the same button (left or right) over the same command label run
    // its command; everything else does nothing. Points are window pixels at dotsPerInch.
    void MouseDown(MouseButton button, int x, int y, int dotsPerInch);
    void MouseUp(MouseButton button, int x, int y, int dotsPerInch);
    // Forgets the presses of both buttons, for when the window loses the mouse capture or the
    // focus between a press and its release: the release that may follow runs nothing.
    void CancelPress();

    const FilePath& TemplatePath() const { return platform_.pages.templatePath; }
    const FilePath& PagePath() const { return platform_.pages.pagePath; }

    // Launcher state.
    std::u16string OperatingSystemName;
    // The version record the name came from (none where the system gives none). Run needs the
    // record itself: the name table calls 6.0 "Windows 2000" and 6.1 "Windows XP".
    std::optional<VersionRecord> SystemVersion;
    TypedValue ScreenWidth;  // a Single
    std::u16string ScreenHeightText;
    std::unique_ptr<clsRegistry> Registry;
    std::string TemplateItem;  // ANSI bytes of the template item last read
    // The page itself is streamed to 2.htm a window at a time while it is built, so no field
    // holds it whole: memory stays small whatever the template's size.

private:
    void BuildDesktopPage();
    // Sets the wallpaper; answers whether the desktop's web content was turned on for it.
    bool SetDesktopWallpaper(const std::u16string& path, int32_t style, WebContent webContent = WebContent::Leave);
    clsRegistry& OpenRegistry();  // Registry, made on first use
    void Click(ControlId control);

    Platform& platform_;
    std::optional<ControlId> pressed_[2];  // per button: the control the press began on
};

}  // namespace tarnwick
