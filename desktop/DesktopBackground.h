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

// Which pictures are this program's: the ones it wrote into its picture folder, and a desktop's
// byte-for-byte copies of them (GNOME's portal keeps its own copy).
class IOurPictures {
public:
    virtual ~IOurPictures() = default;
    virtual bool Holds(const FilePath& picture) const = 0;
};

// What a road finds on the desktop.
struct DesktopShows {
    enum class Whose {
        unread,  // this road cannot read what the desktop shows
        ours,    // one of our pictures, on at least one part of the desktop
        theirs,  // something else: the person's
    };
    Whose whose = Whose::unread;
    // The bytes Restore takes back (the caller keeps them in the per-user store, encoded as it
    // needs); empty where this road cannot read them back.
    std::string saved;
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

    // Shows the pixels PreparePicture was handed last, now, before their file is written, where
    // this road can go back to what the desktop showed: ShowPicture, handed their file, then only
    // makes them stay and does not throw; a road destroyed before that puts back what was there.
    // False, with nothing shown, where it cannot. Only a road whose Shows reads the desktop itself
    // and keeps no saved bytes offers it, so a Run ended before the store is written loses nothing.
    virtual bool ShowPrepared() { return false; }

    // Takes the page's picture off the desktop: a plain background. A desktop that cannot be
    // left without a picture is handed plainPicture, a PNG of one colour at the screen's size.
    // Throws AppError as ShowPicture does.
    virtual void ShowPlain(const FilePath& plainPicture) = 0;

    // What the desktop shows now, as this road reads it: whether that is one of our pictures
    // (ours tells a picture the desktop names), and the bytes Restore takes to show it again.
    // A desktop of several parts (monitors, workspaces, Plasma's desktops) shows ours where any
    // part does. Throws AppError where the desktop does not answer.
    virtual DesktopShows Shows(const IOurPictures& ours)
    {
        (void)ours;
        return {};
    }

    // Takes our picture off the desktop: every part that still shows one of ours (as Shows reads
    // it) gets back what saved holds for it, else the plain picture (a PNG of one colour at the
    // screen's size); a part that shows anything else is left as it is. saved is what Shows
    // returned on this road, or empty. The caller asks only where Shows found ours or could not
    // read the desktop, so a road of one part may restore it whole. Throws AppError as
    // ShowPicture does.
    virtual void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours)
    {
        (void)saved;
        (void)ours;
        ShowPlain(plainPicture);
    }
};

// The desktop portal's wallpaper interface (org.freedesktop.portal.Wallpaper) on the session
// bus; null where there is no session bus or nothing on it offers the interface.
std::unique_ptr<IDesktopBackground> OpenPortalBackground();

// The X root window of the display Qt runs on; null where the program does not run on X11.
std::unique_ptr<IDesktopBackground> OpenRootWindowBackground();

}  // namespace tarnwick
