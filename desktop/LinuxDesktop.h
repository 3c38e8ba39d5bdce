// The Linux Active Desktop: the wallpaper is a page, and a Linux desktop shows pictures, so
// applying the changes draws the page at the screen's size in pixels, writes the picture and
// hands it to the desktop the user runs (the desktop portal, else the X root window). The
// record is kept in the per-user registry as the stand-alone desktop keeps it.
//
// ApplyChanges with the refresh flag and a page: the store is read first (a store that cannot
// be read fails before anything changes), the desktop is opened, the page drawn, the picture
// written crash-safely into the picture folder, the desktop handed it; then, with the save flag,
// the record written; then the older pictures removed. An empty path (Close) hands the desktop a
// plain black picture instead. A failure throws AppError (or answers the registry's HRESULT)
// and leaves the desktop, the older picture and the record as they were.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/FilePath.h"
#include "desktop/WallpaperShell.h"
#include "desktop/DesktopBackground.h"
#include "registry/RegistryOps.h"

namespace tarnwick {

struct PixelSize {
    int width = 0;
    int height = 0;
};

// The engine that turns a page into a picture. Every call throws AppError on failure.
class IPageDrawer {
public:
    virtual ~IPageDrawer() = default;
    // The screen's size in pixels.
    virtual PixelSize ScreenSize() = 0;
    // The page, loaded and drawn at size, as PNG bytes.
    virtual std::string DrawPage(const FilePath& page, PixelSize size) = 0;
    // A black picture of that size, as PNG bytes.
    virtual std::string PlainPicture(PixelSize size) = 0;
};

// One opener for each road to a desktop's background; each answers null where its desktop is
// not there, and an empty one is a road this program does not have.
struct BackgroundOpeners {
    using Opener = std::function<std::unique_ptr<IDesktopBackground>()>;
    Opener portal{};      // org.freedesktop.portal.Wallpaper (GNOME; KDE Plasma 6.5 and later)
    Opener plasma{};      // KDE Plasma's desktop scripting (org.kde.PlasmaShell)
    Opener xfconf{};      // Xfce: xfdesktop's settings over xfconf
    Opener pcmanfm{};     // LXDE and LXQt: the running pcmanfm / pcmanfm-qt desktop
    Opener mate{};        // MATE: GSettings org.mate.background
    Opener cinnamon{};    // Cinnamon: GSettings org.cinnamon.desktop.background
    Opener rootWindow{};  // plain X window managers: the X root window
};

class LinuxDesktop : public IWallpaperShell {
public:
    // The pictures are written to pictureFolder, which is made when missing.
    LinuxDesktop(IRegistryOps& registry, IPageDrawer& drawer, BackgroundOpeners openers, FilePath pictureFolder)
        : registry_(registry), drawer_(drawer), openers_(std::move(openers)), pictureFolder_(std::move(pictureFolder))
    {
    }

    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override;
    std::string DescribeStatus(int32_t hr) override;

    // The user's data folder for the pictures: $XDG_DATA_HOME/tarnwick, else
    // $HOME/.local/share/tarnwick; empty when neither is set.
    static FilePath DefaultPictureFolder();

    // The file name a picture gets: its content's 64-bit FNV-1a hash, so another page gets
    // another name ("tarnwick-0123456789abcdef.png").
    static std::string PictureName(std::string_view png);

private:
    IRegistryOps& registry_;
    IPageDrawer& drawer_;
    BackgroundOpeners openers_;
    FilePath pictureFolder_;
};

}  // namespace tarnwick
