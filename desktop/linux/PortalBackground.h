// The desktop portal's wallpaper interface (org.freedesktop.portal.Wallpaper) on the session bus,
// as GNOME and KDE Plasma (6.5 and later) offer it on X11 and Wayland. The picture goes to
// SetWallpaperFile as an open file; on X11 the panel is named as the parent of the portal's
// dialog. The portal answers a request later, with the Response signal of a request object; the
// probe and the wait run a nested event loop, so the window keeps repainting. Needs a running
// QCoreApplication.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <QDBusConnection>
#include <QString>

#include "base/FilePath.h"
#include "desktop/DesktopBackground.h"

namespace tarnwick {

class PortalBackground : public IDesktopBackground {
public:
    // How long the probe waits for the portal's answer: the bus may have to start it, which takes
    // a second or two.
    static constexpr std::chrono::milliseconds kProbeTimeout{5000};
    // How long a request may go unanswered. GNOME asks the person once whether the program may
    // set the background, and a person may take long to answer; a portal that goes away ends
    // the wait at once.
    static constexpr std::chrono::milliseconds kSilenceBound = std::chrono::minutes(10);

    // Null where there is no session bus or nothing on it offers the wallpaper interface. Without
    // DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus there is no bus: no desktop's portal
    // listens on one that D-Bus would start for us alone.
    static std::unique_ptr<PortalBackground> Open(std::chrono::milliseconds probeTimeout = kProbeTimeout);
    // The same on a bus of the caller's.
    static std::unique_ptr<PortalBackground> Open(QDBusConnection bus,
                                                  std::chrono::milliseconds probeTimeout = kProbeTimeout);

    std::string Name() const override;
    // Both hand the picture to SetWallpaperFile for the background, without a preview. GNOME
    // copies the picture, so the file may be replaced once this returns.
    void ShowPicture(const FilePath& picture) override;
    void ShowPlain(const FilePath& plainPicture) override;
    // Through the desktop's own settings, where the portal writes them (GNOME's): read there and
    // given back there; elsewhere the portal cannot tell, and Close hands it the plain picture.
    DesktopShows Shows(const IOurPictures& ours) override;
    void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours) override;
    void SetSettings(std::unique_ptr<IDesktopBackground> settings) { settings_ = std::move(settings); }

    // The interface's version, as the portal states it.
    uint32_t Version() const { return version_; }
    std::chrono::milliseconds SilenceBound() const { return silenceBound_; }
    void SetSilenceBound(std::chrono::milliseconds bound) { silenceBound_ = bound; }
    // The window the portal's dialog belongs to, as the portal names it ("x11:1a00007"); empty
    // for none. Open takes the program's visible top-level window on X11.
    const QString& ParentWindow() const { return parentWindow_; }
    void SetParentWindow(QString parentWindow) { parentWindow_ = std::move(parentWindow); }

private:
    PortalBackground(QDBusConnection bus, QString portal, uint32_t version);

    void SetWallpaper(const FilePath& picture, const std::string& context);

    QDBusConnection bus_;
    QString portal_;  // the unique name of the portal that answered the probe
    uint32_t version_;
    std::chrono::milliseconds silenceBound_ = kSilenceBound;
    QString parentWindow_;
    unsigned requests_ = 0;
    std::unique_ptr<IDesktopBackground> settings_;
};

// Whether the portal backend that belongs to the desktop (a name as XDG_CURRENT_DESKTOP gives it,
// or a list of them separated by ':') offers the wallpaper interface
// (org.freedesktop.impl.portal.Wallpaper). The portal's own choice for that desktop is followed:
// its <desktop>-portals.conf where there is one, else the backends whose UseIn= names the
// desktop (the backends in $XDG_DESKTOP_PORTAL_DIR, else /usr/share/xdg-desktop-portal/portals).
// A backend that belongs to another desktop does not count, even where the portal would let it
// answer.
bool PortalBackendOffersWallpaper(const std::string& desktopName);

}  // namespace tarnwick
