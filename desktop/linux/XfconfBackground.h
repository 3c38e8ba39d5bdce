// Xfce's desktop: xfdesktop draws the backdrop from its settings in xfconf (channel
// xfce4-desktop), one set for each screen, monitor and workspace:
// /backdrop/screen<N>/monitor<NAME>/workspace<N>/{last-image,image-style}. Setting them over
// D-Bus (org.xfce.Xfconf) is what Xfce's own settings dialog does; xfdesktop redraws at once.
#pragma once

#include <memory>
#include <vector>
#include <string>

#include <QDBusConnection>
#include <QStringList>

#include "desktop/DesktopBackground.h"

namespace tarnwick {

class XfconfBackground : public IDesktopBackground {
public:
    // Null where there is no session bus, xfdesktop is not on it (org.xfce.xfdesktop) or xfconf
    // does not answer.
    static std::unique_ptr<XfconfBackground> Open();

    std::string Name() const override { return "Xfce's desktop settings (xfconf)"; }
    // Every backdrop xfdesktop has shows the picture stretched to its monitor.
    void ShowPicture(const FilePath& picture) override;
    void ShowPlain(const FilePath& plainPicture) override;
    // Ours where any backdrop's last-image is one of our pictures. Saved: each backdrop's
    // last-image and image-style, one backdrop a line:
    // "<prefix>\t<last-image or \x01 where unset>\t<image-style or empty>".
    DesktopShows Shows(const IOurPictures& ours) override;
    // Only the backdrops that show one of our pictures change.
    void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours) override;

private:
    explicit XfconfBackground(QDBusConnection bus) : bus_(std::move(bus)) {}

    // The backdrops' property prefixes ("/backdrop/screen0/monitorscreen/workspace0/") and the
    // channel's properties, read afresh.
    QVariantMap Properties() const;
    QStringList Backdrops(const QVariantMap& properties) const;
    void Set(const QString& property, const QVariant& value) const;
    void Reset(const QString& property) const;
    void ShowEverywhere(const FilePath& picture);
    // One backdrop's new values; an invalid value is reset to xfdesktop's default.
    struct Change {
        QString prefix;
        QVariant style;
        QVariant image;
    };
    void Apply(const QVariantMap& properties, const std::vector<Change>& changes) const;
    // Whether the backdrop's last-image is one of our pictures.
    static bool ShowsOurs(const QVariantMap& properties, const QString& prefix, const IOurPictures& ours);

    QDBusConnection bus_;
};

std::unique_ptr<IDesktopBackground> OpenXfconfBackground();

}  // namespace tarnwick
