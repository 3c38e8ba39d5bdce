// The desktop portal's wallpaper interface (org.freedesktop.portal.Wallpaper) on the session bus,
// as GNOME and KDE Plasma offer it on X11 and Wayland. The portal answers a request later, with
// the Response signal of a request object; the wait runs a nested event loop, so the window keeps
// repainting. Needs a running QCoreApplication.
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
    // How long the probe waits for the portal's answer (blocking): the bus may have to start it.
    static constexpr std::chrono::milliseconds kProbeTimeout{5000};
    // How long a request may go unanswered. GNOME asks the person once whether the program may
    // set the background, and a person may take long to answer; a portal that goes away ends
    // the wait at once.
    static constexpr std::chrono::milliseconds kSilenceBound = std::chrono::minutes(10);

    // Null where there is no session bus or nothing on it offers the wallpaper interface. Without
    // DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus there is no bus: no desktop's portal
    // listens on one that D-Bus would start for us alone.
    static std::unique_ptr<PortalBackground> Open(std::chrono::milliseconds probeTimeout = kProbeTimeout);

    std::string Name() const override;
    // Both hand the picture to SetWallpaperURI for the background, without a preview. GNOME
    // copies the picture, so the file may be replaced once this returns.
    void ShowPicture(const FilePath& picture) override;
    void ShowPlain(const FilePath& plainPicture) override;

    // The interface's version, as the portal states it.
    uint32_t Version() const { return version_; }
    void SetSilenceBound(std::chrono::milliseconds bound) { silenceBound_ = bound; }

private:
    PortalBackground(QDBusConnection bus, QString portal, uint32_t version);

    void SetWallpaper(const FilePath& picture, const std::string& context);

    QDBusConnection bus_;
    QString portal_;  // the unique name of the portal that answered the probe
    uint32_t version_;
    std::chrono::milliseconds silenceBound_ = kSilenceBound;
    unsigned requests_ = 0;
};

}  // namespace tarnwick
