// A desktop portal for the tests: owns org.freedesktop.portal.Desktop on the session bus, offers
// the wallpaper interface at /org/freedesktop/portal/desktop, records every SetWallpaperFile and
// answers each through a request object with the outcome it was given.
//
//   recording_portal --log FILE --copies DIR [--answers LIST] [--delay MS] [--handle expected|own]
//                    [--start-delay MS]
//
// LIST is a comma-separated list of outcomes, one per request, the last one repeated: a number
// (the Response code), "silent" (never answers), "leave" (leaves the bus without answering),
// "error" (the method call fails), "noreply" (the method call is never answered). As GNOME does, the portal copies the picture it is handed, read
// from the open file (to DIR/N.png for the Nth request), and fails the request where it cannot;
// the log names the file the descriptor is open on. With "--handle own" it names a request path
// of its own instead of the one the caller's handle_token gives, as portals before version 0.9
// did. "--start-delay" waits before taking the name, as a portal the bus starts on demand takes a
// while. "ready" on stdout says that the name is owned.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kWallpaper = QStringLiteral("org.freedesktop.portal.Wallpaper");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr uint kVersion = 1;

// A value as the log shows it: its D-Bus type, a colon, the value (strings quoted).
std::string Describe(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>() && value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature().toStdString() + ":?";
    const char* signature = QDBusMetaType::typeToSignature(value.metaType());
    std::string text = signature != nullptr ? signature : "?";
    text += ':';
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        text += value.toBool() ? "true" : "false";
        break;
    case QMetaType::QString: {
        text += '"';
        for (const char c : value.toString().toStdString()) {
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
        text += '"';
        break;
    }
    default:
        text += value.toString().toStdString();
    }
    return text;
}

// The file an open descriptor names, as /proc shows it.
std::string PathOfDescriptor(int fd)
{
    char path[4096];
    const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// The open file's whole content, copied to the file to; false where it cannot be read.
bool CopyDescriptor(int fd, const std::string& to)
{
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = pread(fd, buffer, sizeof buffer, offset);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        out.write(buffer, got);
        offset += got;
    }
    return static_cast<bool>(out.flush());
}

class RecordingPortal : public QDBusVirtualObject {
public:
    RecordingPortal(QString log, QString copies, QStringList answers, int delay, bool ownHandle)
        : log_(log.toStdString()), copies_(copies.toStdString()), answers_(std::move(answers)), delay_(delay),
          ownHandle_(ownHandle)
    {
    }

    QString introspect(const QString& path) const override
    {
        if (path != kObject)
            return {};
        return QStringLiteral(
            "<interface name=\"org.freedesktop.portal.Wallpaper\">"
            "<method name=\"SetWallpaperFile\"><arg type=\"s\" name=\"parent_window\" direction=\"in\"/>"
            "<arg type=\"h\" name=\"fd\" direction=\"in\"/>"
            "<arg type=\"a{sv}\" name=\"options\" direction=\"in\"/>"
            "<arg type=\"o\" name=\"handle\" direction=\"out\"/></method>"
            "<property name=\"version\" type=\"u\" access=\"read\"/></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QList<QVariant> args = message.arguments();
        if (message.path() == kObject && message.interface() == kProperties &&
            message.member() == QStringLiteral("Get") && args.size() == 2) {
            if (args[0].toString() == kWallpaper && args[1].toString() == QStringLiteral("version"))
                return Reply(connection, message.createReply(QVariant::fromValue(QDBusVariant(kVersion))));
            return Reply(connection, message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                              QStringLiteral("No such property")));
        }
        if (message.interface() == QStringLiteral("org.freedesktop.DBus.Introspectable") &&
            message.member() == QStringLiteral("Introspect"))
            return Reply(connection, message.createReply(QStringLiteral("<node>") + introspect(message.path()) +
                                                         QStringLiteral("</node>")));
        if (message.path() == kObject && message.interface() == kProperties &&
            message.member() == QStringLiteral("GetAll") && args.size() == 1) {
            QVariantMap properties;
            if (args[0].toString() == kWallpaper)
                properties.insert(QStringLiteral("version"), kVersion);
            return Reply(connection, message.createReply(properties));
        }
        if (message.path() == kObject && message.interface() == kWallpaper &&
            message.member() == QStringLiteral("SetWallpaperFile") && message.signature() == QStringLiteral("sha{sv}"))
            return SetWallpaperFile(message, connection);
        if (message.interface() == kRequest && message.member() == QStringLiteral("Close") &&
            pending_.contains(message.path())) {
            delete pending_.take(message.path());
            Log("close " + message.path().toStdString());
            return Reply(connection, message.createReply());
        }
        return Reply(connection, message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                                          QStringLiteral("No such method")));
    }

private:
    static bool Reply(const QDBusConnection& connection, const QDBusMessage& reply)
    {
        connection.send(reply);
        return true;
    }

    void Log(const std::string& line)
    {
        std::ofstream out(log_, std::ios::app);
        out << line << '\n';
    }

    bool SetWallpaperFile(const QDBusMessage& message, const QDBusConnection& connection)
    {
        ++requests_;
        const QList<QVariant> args = message.arguments();
        const QVariantMap options = qdbus_cast<QVariantMap>(args[2]);
        const QDBusUnixFileDescriptor file = qdbus_cast<QDBusUnixFileDescriptor>(args[1]);
        std::string line = "SetWallpaperFile parent_window=" + Describe(args[0]) +
                           " file=" + (file.isValid() ? PathOfDescriptor(file.fileDescriptor()) : "invalid");
        for (auto option = options.begin(); option != options.end(); ++option)
            line += " option " + option.key().toStdString() + "=" + Describe(option.value());

        const std::string copy = copies_ + "/" + std::to_string(requests_) + ".png";
        const bool copied = file.isValid() && CopyDescriptor(file.fileDescriptor(), copy);
        line += copied ? " copy " + copy : std::string(" copy failed");

        const QString outcome = answers_[std::min<qsizetype>(requests_ - 1, answers_.size() - 1)];
        line += " answer " + outcome.toStdString();
        Log(line);

        if (outcome == QStringLiteral("noreply"))
            return true;
        if (outcome == QStringLiteral("error"))
            return Reply(connection, message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotAllowed"),
                                                              QStringLiteral("Wallpaper changes are not allowed")));

        QString sender = message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString token = ownHandle_ ? QStringLiteral("request%1").arg(requests_)
                                         : options.value(QStringLiteral("handle_token")).toString();
        const QString handle = kObject + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
        // The reply goes out before any answer, as real portals send it.
        Reply(connection, message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));

        if (outcome == QStringLiteral("silent"))
            return true;
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        pending_.insert(handle, timer);
        bool isNumber = false;
        const uint response = copied ? outcome.toUInt(&isNumber) : 2;
        const QString caller = message.service();
        QObject::connect(timer, &QTimer::timeout, [=, this] {
            pending_.remove(handle);
            timer->deleteLater();
            if (outcome == QStringLiteral("leave")) {
                Log("leave");
                QCoreApplication::exit(0);
                return;
            }
            // Addressed to the caller, as xdg-desktop-portal sends it: it arrives even where the
            // caller subscribed only after the reply.
            QDBusMessage signal =
                QDBusMessage::createTargetedSignal(caller, handle, kRequest, QStringLiteral("Response"));
            signal << response << QVariantMap();
            QDBusConnection(connection).send(signal);
        });
        timer->start(delay_);
        return true;
    }

    std::string log_;
    std::string copies_;
    QStringList answers_;
    int delay_;
    bool ownHandle_;
    int requests_ = 0;
    QMap<QString, QTimer*> pending_;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString log, copies, answers = QStringLiteral("0");
    int delay = 0, startDelay = 0;
    bool ownHandle = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--log"))
            log = args[i + 1];
        else if (args[i] == QStringLiteral("--copies"))
            copies = args[i + 1];
        else if (args[i] == QStringLiteral("--answers"))
            answers = args[i + 1];
        else if (args[i] == QStringLiteral("--delay"))
            delay = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--handle"))
            ownHandle = args[i + 1] == QStringLiteral("own");
        else if (args[i] == QStringLiteral("--start-delay"))
            startDelay = args[i + 1].toInt();
    }
    if (log.isEmpty() || copies.isEmpty()) {
        std::fprintf(stderr,
                     "usage: %s --log FILE --copies DIR [--answers LIST] [--delay MS] [--handle expected|own] "
                     "[--start-delay MS]\n",
                     argv[0]);
        return 2;
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(startDelay));
    QDBusConnection bus = QDBusConnection::sessionBus();
    RecordingPortal portal(log, copies, answers.split(QLatin1Char(',')), delay, ownHandle);
    if (!bus.registerVirtualObject(kObject, &portal, QDBusConnection::SubPath)) {
        std::fprintf(stderr, "recording portal: cannot export %s\n", qPrintable(kObject));
        return 1;
    }
    if (!bus.registerService(kService)) {
        std::fprintf(stderr, "recording portal: cannot own %s: %s\n", qPrintable(kService),
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    std::cout << "ready" << std::endl;
    return app.exec();
}
