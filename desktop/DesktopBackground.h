// The desktop the user runs, as the Linux Active Desktop hands it a picture. The core owns this
// interface; desktop/linux/ implements one road per kind of desktop (the desktop portal, Plasma's
// scripting, xfconf, pcmanfm, GSettings, the X root window).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/FilePath.h"

namespace tarnwick {

// A picture's pixels in memory, handed over before its PNG is there: rows of 32-bit pixels
// 0xffRRGGBB in the machine's byte order, top to bottom, stride bytes apart. Where they lie in
// memory shared between processes (a sealed memfd the drawing process made), sharedFd is a file
// descriptor of it, holding them from its start, so a road may hand it on without a copy (the X
// server maps it, MIT-SHM); -1 otherwise. Valid only during the call they are passed to.
struct PicturePixels {
    int width = 0;
    int height = 0;
    size_t stride = 0;
    const uint32_t* data = nullptr;
    int sharedFd = -1;
};

class IDesktopBackground {
public:
    virtual ~IDesktopBackground() = default;

    // What stands behind it, for reports and for the saved state: "the desktop portal", "the X
    // root window".
    virtual std::string Name() const = 0;

    // Makes the PNG picture (drawn at the screen's size) the desktop's background; it fills the
    // screen exactly. Returns once the desktop has taken it; throws AppError when the desktop
    // refuses it or fails, leaving the background as it was.
    virtual void ShowPicture(const FilePath& picture) = 0;

    // The pixels of the picture the next ShowPicture is handed, while its PNG is still being
    // encoded and written: a road that can use them gets ready with them (nothing is shown yet),
    // so ShowPicture need not read the file back. Never throws: a road that could not get ready
    // reads the file in ShowPicture as ever.
    virtual void PreparePicture(const PicturePixels& pixels) { (void)pixels; }

    // Takes the page's picture off the desktop: a plain background. A desktop that cannot be
    // left without a picture is handed plainPicture, a PNG of one colour at the screen's size.
    // Throws AppError as ShowPicture does.
    virtual void ShowPlain(const FilePath& plainPicture) = 0;

    // What the desktop shows now, as bytes this road's Restore takes back (the caller keeps them
    // in the per-user store, encoded as it needs); empty where this road cannot read it.
    virtual std::string SaveCurrent() { return {}; }

    // Puts back what SaveCurrent returned, on the same road. Throws AppError as ShowPicture does.
    // A road that saves nothing is never asked to restore: the caller shows the plain background.
    virtual void Restore(const std::string& saved, const FilePath& plainPicture)
    {
        (void)saved;
        ShowPlain(plainPicture);
    }
};

// The desktop portal's wallpaper interface (org.freedesktop.portal.Wallpaper) on the session
// bus; null where there is no session bus or nothing on it offers the interface.
std::unique_ptr<IDesktopBackground> OpenPortalBackground();

// The X root window of the display Qt runs on; null where the program does not run on X11.
std::unique_ptr<IDesktopBackground> OpenRootWindowBackground();

}  // namespace tarnwick
