// The desktop the user runs, as the Linux Active Desktop hands it a picture: the desktop portal's
// wallpaper interface on the session bus, or the X root window's background.
#pragma once

#include <memory>
#include <string>

#include "base/FilePath.h"

namespace tarnwick {

class IDesktopBackground {
public:
    virtual ~IDesktopBackground() = default;

    // What stands behind it, for reports: "the desktop portal", "the X root window".
    virtual std::string Name() const = 0;

    // Makes the PNG picture (drawn at the screen's size) the desktop's background; it fills the
    // screen exactly. Returns once the desktop has taken it; throws AppError when the desktop
    // refuses it or fails, leaving the background as it was.
    virtual void ShowPicture(const FilePath& picture) = 0;

    // Takes the page's picture off the desktop: a plain background. A desktop that cannot be
    // left without a picture is handed plainPicture, a PNG of one colour at the screen's size.
    // Throws AppError as ShowPicture does.
    virtual void ShowPlain(const FilePath& plainPicture) = 0;
};

// The desktop portal's wallpaper interface (org.freedesktop.portal.Wallpaper) on the session
// bus; null where there is no session bus or nothing on it offers the interface.
std::unique_ptr<IDesktopBackground> OpenPortalBackground();

// The X root window of the display Qt runs on; null where the program does not run on X11.
std::unique_ptr<IDesktopBackground> OpenRootWindowBackground();

}  // namespace tarnwick
