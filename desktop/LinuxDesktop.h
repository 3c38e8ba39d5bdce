// The Linux Active Desktop: the wallpaper is a page, and a Linux desktop shows pictures, so
// applying the changes draws the page at the screen's size in pixels, writes the picture and
// hands it to the desktop the user runs, by the road the running desktop decides (DesktopKind.h).
// The record is kept in the per-user registry as the stand-alone desktop keeps it.
//
// ApplyChanges with the refresh flag and a page: the store is read first (a store that cannot
// be read fails before anything changes), the desktop is opened and what it shows read, the page
// drawn (its pixels handed to the desktop to get ready with while their PNG is encoded), the
// picture written crash-safely into the picture folder, the desktop handed it; then, with the save
// flag, the record written; then the older pictures removed. A road that can go back on it shows
// the pixels as soon as they are there; then the record is written before it is told the picture
// stays, and any failure before that has it put back what it showed. An empty path (Close) hands the desktop a
// plain black picture instead, or what the person had (below). A failure throws AppError (or
// answers the registry's HRESULT) and leaves the desktop, the older picture and the record as
// they were. Where no road reaches the desktop, the picture is still written and the report names
// it, so the person can set it with the desktop's own tool; nothing else changes.
//
// Each road says what the desktop shows and whether that is our picture (DesktopBackground.h).
// Run keeps what it shows before the page is shown, under a lock on the picture folder held until
// the record is written, never one of our own pictures, by the desktop's name
// (kKeptDesktopsValue); Close acts only where the desktop still shows ours, gives back what was
// kept through the same road (else the plain picture), and leaves whatever the person chose since.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/FilePath.h"
#include "desktop/WallpaperShell.h"
#include "desktop/DesktopBackground.h"
#include "desktop/DesktopKind.h"
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
    // The same; a drawer that has the pixels before their PNG hands them to pixelsReady first,
    // once, so they can go to the desktop while the PNG is encoded.
    using PixelsReady = std::function<void(const PicturePixels&)>;
    virtual std::string DrawPageWithPixels(const FilePath& page, PixelSize size, const PixelsReady& pixelsReady)
    {
        (void)pixelsReady;
        return DrawPage(page, size);
    }
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
    Opener sway{};        // sway: its IPC socket, which has swaybg draw the picture
    Opener rootWindow{};  // plain X window managers: the X root window
};

// What each desktop showed before our picture, and the picture it was given (see above).
inline constexpr char kKeptDesktopsValue[] = "TarnwickDesktops";
// One road's saved state, as earlier versions kept it: read as the running desktop's.
inline constexpr char kSavedRoadValue[] = "TarnwickSavedRoad";
inline constexpr char kSavedDesktopValue[] = "TarnwickSavedDesktop";

// What the Linux desktop needs to know beyond the openers: which road the running desktop takes
// (asked once for each applied change), and a text value of the record's key
// (HKEY_CURRENT_USER\Control Panel\Desktop), nullopt where it is missing.
struct DesktopSense {
    std::function<DesktopDecision()> decide;
    std::function<std::optional<std::string>(const std::string& valueName)> readRecord;
};

class LinuxDesktop : public IWallpaperShell {
public:
    // The pictures are written to pictureFolder, which is made when missing.
    LinuxDesktop(IRegistryOps& registry, IPageDrawer& drawer, BackgroundOpeners openers, DesktopSense sense,
                 FilePath pictureFolder)
        : registry_(registry), drawer_(drawer), openers_(std::move(openers)), sense_(std::move(sense)),
          pictureFolder_(std::move(pictureFolder))
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

    // The saved desktop's bytes as the store keeps them: printable ASCII stays, '%', '"', '\\'
    // and every other byte become %XX. Decode answers nullopt for text Encode does not make.
    static std::string EncodeSaved(std::string_view bytes);
    static std::optional<std::string> DecodeSaved(std::string_view text);

private:
    IRegistryOps& registry_;
    IPageDrawer& drawer_;
    BackgroundOpeners openers_;
    DesktopSense sense_;
    FilePath pictureFolder_;
};

}  // namespace tarnwick
