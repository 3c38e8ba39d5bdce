#include "desktop/linux/XfconfBackground.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QRegularExpression>
#include <QVariantMap>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>

#include "base/AppError.h"
#include "desktop/linux/BusCall.h"

namespace tarnwick {

namespace {

const QString kService = QStringLiteral("org.xfce.Xfconf");
const QString kObject = QStringLiteral("/org/xfce/Xfconf");
const QString kInterface = QStringLiteral("org.xfce.Xfconf");
const QString kChannel = QStringLiteral("xfce4-desktop");
constexpr std::chrono::milliseconds kTimeout{10000};
// xfdesktop's image-style: 3 stretches the picture to its monitor. The picture is drawn at the
// screen's size, so it fills the monitor exactly.
constexpr int kStretched = 3;
const char kUnset = '\x01';

AppError XfconfFailure(const QString& what, const QDBusError& error)
{
    return AppError(EIO, DescribeSystemError(EIO),
                    "The desktop wallpaper could not be set: Xfce's settings (xfconf) " + what.toStdString() +
                        (error.isValid() ? ": " + error.message().toStdString() : std::string(".")));
}

QDBusMessage Call(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kInterface, method);
    call.setArguments(arguments);
    return call;
}

}  // namespace

std::unique_ptr<XfconfBackground> XfconfBackground::Open()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0')
        return nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return nullptr;
    // The settings change nothing visible without xfdesktop to draw them.
    if (!bus.interface()->isServiceRegistered(QStringLiteral("org.xfce.xfdesktop")).value())
        return nullptr;
    std::unique_ptr<XfconfBackground> background(new XfconfBackground(bus));
    const QDBusMessage reply = CallKeepingWindowsPainted(bus, Call(QStringLiteral("ListChannels"), {}), kTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return nullptr;
    return background;
}

QVariantMap XfconfBackground::Properties() const
{
    const QDBusReply<QVariantMap> reply = CallKeepingWindowsPainted(
        bus_, Call(QStringLiteral("GetAllProperties"), {kChannel, QStringLiteral("/backdrop")}), kTimeout);
    if (!reply.isValid()) {
        // A channel without properties answers an error of its own: no backdrops.
        if (reply.error().name() == QStringLiteral("org.xfce.Xfconf.Error.PropertyNotFound") ||
            reply.error().name() == QStringLiteral("org.xfce.Xfconf.Error.ChannelNotFound"))
            return {};
        throw XfconfFailure(QStringLiteral("did not list xfdesktop's backdrops"), reply.error());
    }
    return reply.value();
}

QStringList XfconfBackground::Backdrops(const QVariantMap& properties) const
{
    static const QRegularExpression backdrop(QStringLiteral("^(/backdrop/screen\\d+/monitor[^/]+/workspace\\d+/)"));
    std::set<QString> prefixes;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        const QRegularExpressionMatch match = backdrop.match(it.key());
        if (match.hasMatch())
            prefixes.insert(match.captured(1));
    }
    QStringList list(prefixes.begin(), prefixes.end());
    if (list.isEmpty())
        throw XfconfFailure(QStringLiteral("hold no backdrop of xfdesktop's (/backdrop/screen*/monitor*/workspace*)"),
                            QDBusError());
    return list;
}

void XfconfBackground::Set(const QString& property, const QVariant& value) const
{
    const QDBusMessage reply = CallKeepingWindowsPainted(
        bus_, Call(QStringLiteral("SetProperty"), {kChannel, property, QVariant::fromValue(QDBusVariant(value))}),
        kTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw XfconfFailure("did not take " + property, QDBusError(reply));
}

void XfconfBackground::Reset(const QString& property) const
{
    const QDBusMessage reply =
        CallKeepingWindowsPainted(bus_, Call(QStringLiteral("ResetProperty"), {kChannel, property, false}), kTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw XfconfFailure("did not reset " + property, QDBusError(reply));
}

void XfconfBackground::ShowEverywhere(const FilePath& picture)
{
    // xfconf's values are text: a path of other bytes would reach it changed, naming another file.
    if (picture.ToUtf8() != picture.Native())
        throw AppError(EILSEQ, DescribeSystemError(EILSEQ),
                       "The desktop wallpaper could not be set: Xfce's settings (xfconf) take a picture's path as "
                       "UTF-8 text, and the path " +
                           picture.ToUtf8() + " is not (a folder's name holds other bytes).");
    const QString file = QString::fromStdString(picture.Native());
    const QVariantMap properties = Properties();
    // Each change makes xfdesktop load the backdrop again, and a load that a newer one cancels
    // has crashed xfdesktop 4.18 on a busy machine: a value that is already right is left alone.
    for (const QString& prefix : Backdrops(properties)) {
        const QString style = prefix + QStringLiteral("image-style");
        const QString image = prefix + QStringLiteral("last-image");
        if (properties.value(image).toString() != file)
            Set(image, file);
        if (!properties.contains(style) || properties.value(style).toInt() != kStretched)
            Set(style, kStretched);
    }
}

void XfconfBackground::ShowPicture(const FilePath& picture)
{
    ShowEverywhere(picture);
}

void XfconfBackground::ShowPlain(const FilePath& plainPicture)
{
    ShowEverywhere(plainPicture);
}

DesktopShows XfconfBackground::Shows(const IOurPictures& ours)
{
    const QVariantMap properties = Properties();
    DesktopShows shows{DesktopShows::Whose::theirs, {}};
    for (const QString& prefix : Backdrops(properties)) {
        const QVariant image = properties.value(prefix + QStringLiteral("last-image"));
        const QVariant style = properties.value(prefix + QStringLiteral("image-style"));
        if (ShowsOurs(properties, prefix, ours))
            shows.whose = DesktopShows::Whose::ours;
        shows.saved += prefix.toStdString() + '\t' +
                       (image.isValid() ? image.toString().toStdString() : std::string(1, kUnset)) + '\t' +
                       (style.isValid() ? std::to_string(style.toInt()) : std::string()) + '\n';
    }
    return shows;
}

bool XfconfBackground::ShowsOurs(const QVariantMap& properties, const QString& prefix, const IOurPictures& ours)
{
    const QVariant image = properties.value(prefix + QStringLiteral("last-image"));
    return image.isValid() && ours.Holds(FilePath(image.toString().toStdString()));
}

void XfconfBackground::Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours)
{
    // Each backdrop's line as Shows wrote it; text that is not one gives the plain picture.
    std::map<QString, QStringList> kept;
    for (const QString& line : QString::fromStdString(saved).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() != 3 || !fields[0].startsWith(QStringLiteral("/backdrop/"))) {
            kept.clear();
            break;
        }
        kept[fields[0]] = fields;
    }
    const QString plain = QString::fromStdString(plainPicture.ToUtf8());
    const QVariantMap properties = Properties();
    for (const QString& prefix : Backdrops(properties)) {
        if (!ShowsOurs(properties, prefix, ours))
            continue;  // the person's choice since
        const QString style = prefix + QStringLiteral("image-style");
        const QString image = prefix + QStringLiteral("last-image");
        const auto found = kept.find(prefix);
        if (found == kept.end()) {
            Set(image, plain);
            if (properties.value(style).toInt() != kStretched)
                Set(style, kStretched);
            continue;
        }
        const QStringList& fields = found->second;
        if (fields[2].isEmpty())
            Reset(style);
        else
            Set(style, fields[2].toInt());
        if (fields[1] == QString(QLatin1Char(kUnset)))
            Reset(image);
        else
            Set(image, fields[1]);
    }
}

std::unique_ptr<IDesktopBackground> OpenXfconfBackground()
{
    return XfconfBackground::Open();
}

}  // namespace tarnwick
