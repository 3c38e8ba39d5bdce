#include "desktop/linux/PortalBackground.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "base/AppError.h"
#include "desktop/linux/BusCall.h"
#include "desktop/linux/GSettingsBackground.h"

namespace tarnwick {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kWallpaper = QStringLiteral("org.freedesktop.portal.Wallpaper");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// The program's window on X11, as the portal names a parent window: the active window, else
// the first visible top-level one (the panel). Empty elsewhere.
QString PanelWindow()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
        QGuiApplication::platformName() != QStringLiteral("xcb"))
        return {};
    QWidget* panel = QApplication::activeWindow();
    if (panel == nullptr) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && widget->internalWinId() != 0) {
                panel = widget;
                break;
            }
        }
    }
    if (panel == nullptr || panel->internalWinId() == 0)
        return {};
    return QStringLiteral("x11:") + QString::number(panel->internalWinId(), 16);
}

// Waits for the answer to one request: the Response signal of its request object, or the end of
// the wait for another reason. It listens to all of the portal's request objects from before the
// call, because the reply may name another path than the one our token gives (portals before
// 0.9 chose their own) and the answer may arrive before the reply has been read.
class RequestWaiter : public QObject {
    Q_OBJECT

public:
    enum class End { Answered, CallFailed, PortalGone, Silence };

    // Listens, and watches the portal: made before the call, it sees the portal leave at any time.
    RequestWaiter(QDBusConnection bus, QString portal, QString expectedPath)
        : bus_(std::move(bus)), portal_(std::move(portal)), handle_(std::move(expectedPath)),
          portalWatcher_(portal_, bus_, QDBusServiceWatcher::WatchForUnregistration)
    {
        QObject::connect(&portalWatcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                         [this] { Finish(End::PortalGone); });
        listening_ = bus_.connect(portal_, QString(), kRequest, QStringLiteral("Response"), this,
                                  SLOT(OnResponse(uint, QVariantMap, QDBusMessage)));
    }
    ~RequestWaiter() override
    {
        if (listening_)
            bus_.disconnect(portal_, QString(), kRequest, QStringLiteral("Response"), this,
                            SLOT(OnResponse(uint, QVariantMap, QDBusMessage)));
    }

    bool Listening() const { return listening_; }

    // Runs a nested event loop until the request ends: answered, the call failed, the portal
    // left the bus, or silence for the bound. The call itself is bounded by its own timeout, the
    // answer by the bound from the call's reply on. Input to the windows waits meanwhile, so no
    // click starts a second command; they keep repainting.
    End Wait(const QDBusPendingCall& call, std::chrono::milliseconds silenceBound)
    {
        QEventLoop loop;
        loop_ = &loop;

        QTimer silence;
        silence.setSingleShot(true);
        QObject::connect(&silence, &QTimer::timeout, this, [this] { Finish(End::Silence); });

        QDBusPendingCallWatcher callWatcher(call);
        QObject::connect(&callWatcher, &QDBusPendingCallWatcher::finished, this,
                         [this, &silence, silenceBound](QDBusPendingCallWatcher* w) {
                             QDBusPendingReply<QDBusObjectPath> reply = *w;
                             if (reply.isError()) {
                                 callError_ = reply.error();
                                 Finish(callError_.type() == QDBusError::NoReply ? End::Silence : End::CallFailed);
                                 return;
                             }
                             handle_ = reply.value().path();
                             silence.start(silenceBound);
                             TakeAnswer();
                         });

        if (!end_)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        loop_ = nullptr;
        return *end_;
    }

    uint Answer() const { return answer_.value_or(std::numeric_limits<uint>::max()); }
    const QDBusError& CallError() const { return callError_; }

private slots:
    void OnResponse(uint response, const QVariantMap&, const QDBusMessage& message)
    {
        answers_.insert(message.path(), response);
        TakeAnswer();
    }

private:
    // The answer on the request's path, once there is one.
    void TakeAnswer()
    {
        const auto answer = answers_.constFind(handle_);
        if (answer == answers_.constEnd() || end_)
            return;
        answer_ = *answer;
        Finish(End::Answered);
    }

    void Finish(End end)
    {
        if (end_)
            return;
        end_ = end;
        if (loop_ != nullptr)
            loop_->quit();
    }

    QDBusConnection bus_;
    QString portal_;
    QString handle_;  // the request's path: the expected one until the reply names it
    QDBusServiceWatcher portalWatcher_;
    bool listening_ = false;
    QHash<QString, uint> answers_;
    QEventLoop* loop_ = nullptr;
    std::optional<End> end_;
    std::optional<uint> answer_;
    QDBusError callError_;
};

std::string Duration(std::chrono::milliseconds bound)
{
    using std::chrono::milliseconds;
    if (bound >= std::chrono::minutes(1) && bound % std::chrono::minutes(1) == milliseconds(0)) {
        const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(bound).count();
        return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
    }
    if (bound >= std::chrono::seconds(1) && bound % std::chrono::seconds(1) == milliseconds(0)) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(bound).count();
        return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    return std::to_string(bound.count()) + " ms";
}

}  // namespace

std::unique_ptr<PortalBackground> PortalBackground::Open(std::chrono::milliseconds probeTimeout)
{
    if (!HasSessionBus())
        return nullptr;
    return Open(QDBusConnection::sessionBus(), probeTimeout);
}

std::unique_ptr<PortalBackground> PortalBackground::Open(QDBusConnection bus, std::chrono::milliseconds probeTimeout)
{
    if (!bus.isConnected())
        return nullptr;
    // Reading the interface's version also starts a portal the bus can activate.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kObject, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWallpaper << QStringLiteral("version");
    const QDBusMessage reply = CallKeepingWindowsPainted(bus, get, probeTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 || reply.service().isEmpty())
        return nullptr;
    bool isNumber = false;
    const uint version = reply.arguments().front().value<QDBusVariant>().variant().toUInt(&isNumber);
    if (!isNumber)
        return nullptr;
    std::unique_ptr<PortalBackground> portal(new PortalBackground(bus, reply.service(), version));
    portal->SetParentWindow(PanelWindow());
    return portal;
}

PortalBackground::PortalBackground(QDBusConnection bus, QString portal, uint32_t version)
    : bus_(std::move(bus)), portal_(std::move(portal)), version_(version)
{
}

std::string PortalBackground::Name() const
{
    return "the desktop portal";
}

void PortalBackground::ShowPicture(const FilePath& picture)
{
    SetWallpaper(picture,
                 "Cannot make the picture " + picture.ToUtf8() + " the desktop background through " + Name() + ".");
}

void PortalBackground::ShowPlain(const FilePath& plainPicture)
{
    SetWallpaper(plainPicture, "Cannot take the page off the desktop through " + Name() + " (the plain picture " +
                                   plainPicture.ToUtf8() + ").");
}

DesktopShows PortalBackground::Shows(const IOurPictures& ours)
{
    return settings_ ? settings_->Shows(ours) : DesktopShows{};
}

void PortalBackground::Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours)
{
    if (settings_ && !saved.empty())
        settings_->Restore(saved, plainPicture, ours);
    else
        ShowPlain(plainPicture);
}

void PortalBackground::SetWallpaper(const FilePath& picture, const std::string& context)
{
    // The portal reads the picture from the open file, whatever its path.
    const int file = open(picture.Native().c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        throw SystemError(static_cast<uint32_t>(errno), context);
    const QDBusUnixFileDescriptor descriptor(file);
    close(file);
    if (!descriptor.isValid() || !(bus_.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        throw AppError(ENOTSUP, "The session bus cannot hand the portal an open file", context);

    // The request object's path the portal derives from our token: .../request/SENDER/TOKEN,
    // SENDER our unique name without ':' and with '.' as '_'.
    const QString token = QStringLiteral("tarnwick_%1_%2").arg(getpid()).arg(++requests_);
    QString sender = bus_.baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expected = kObject + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;

    RequestWaiter waiter(bus_, portal_, expected);
    if (!waiter.Listening())
        throw AppError(ECOMM, "Cannot listen for the portal's answer: " + bus_.lastError().message().toStdString(),
                       context);

    QDBusMessage call = QDBusMessage::createMethodCall(portal_, kObject, kWallpaper, QStringLiteral("SetWallpaperFile"));
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("set-on"), QStringLiteral("background"));
    options.insert(QStringLiteral("show-preview"), false);
    call << parentWindow_ << QVariant::fromValue(descriptor) << options;
    // The method itself answers at once with the request's path; the person's answer comes later.
    const auto callTimeout = std::min<long long>(silenceBound_.count(), std::numeric_limits<int>::max());
    const QDBusPendingCall pending = bus_.asyncCall(call, static_cast<int>(callTimeout));

    switch (waiter.Wait(pending, silenceBound_)) {
    case RequestWaiter::End::Answered:
        break;
    case RequestWaiter::End::CallFailed:
        throw AppError(ECOMM,
                       "The portal refused the request: " + waiter.CallError().name().toStdString() + ": " +
                           waiter.CallError().message().toStdString(),
                       context);
    case RequestWaiter::End::PortalGone:
        throw AppError(ENOLINK, "The portal left the session bus without answering", context);
    case RequestWaiter::End::Silence:
        throw AppError(ETIMEDOUT, "The portal gave no answer within " + Duration(silenceBound_), context);
    }
    switch (waiter.Answer()) {
    case 0:
        return;
    case 1:
        throw AppError(ECANCELED, "Cancelled: the desktop did not allow the program to change the background", context);
    case 2:
        // The portal answers so both when the desktop failed and when the person refused. A
        // refusal is kept in the permission store for every program without an app id.
        throw AppError(EIO,
                       "The desktop did not change the background: it failed, or the change is not allowed. A "
                       "refusal is remembered by the portal for every program without an app id, this one too; to "
                       "be asked again, remove it from the permission store's wallpaper table: gdbus call --session "
                       "--dest org.freedesktop.impl.portal.PermissionStore --object-path "
                       "/org/freedesktop/impl/portal/PermissionStore --method "
                       "org.freedesktop.impl.portal.PermissionStore.DeletePermission wallpaper wallpaper \"''\"",
                       context);
    default:
        throw AppError(EPROTO, "The portal gave an answer it does not define (" + std::to_string(waiter.Answer()) + ")",
                       context);
    }
}

namespace {

// A desktop entry style file: [group] headers, key=value lines, '#' comments.
using KeyFile = std::map<std::string, std::map<std::string, std::string>>;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<KeyFile> ReadKeyFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    KeyFile file;
    std::string group;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            file[group][Trim(line.substr(0, equals))] = Trim(line.substr(equals + 1));
    }
    return file;
}

std::vector<std::string> Split(const std::string& list, char separator)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(separator, start), list.size());
        if (std::string item = Trim(list.substr(start, end - start)); !item.empty())
            items.push_back(item);
        start = end + 1;
    }
    return items;
}

// The folders the portal reads <desktop>-portals.conf from, the first one winning.
std::vector<std::filesystem::path> PortalConfigFolders(const std::filesystem::path& portals)
{
    const auto env = [](const char* name, const std::string& otherwise) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0' ? std::string(value) : otherwise;
    };
    const std::string home = env("HOME", "");
    std::vector<std::filesystem::path> folders{env("XDG_CONFIG_HOME", home + "/.config")};
    for (const std::string& folder : Split(env("XDG_CONFIG_DIRS", "/etc/xdg"), ':'))
        folders.emplace_back(folder);
    folders.emplace_back("/etc");
    folders.emplace_back(env("XDG_DATA_HOME", home + "/.local/share"));
    for (const std::string& folder : Split(env("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':'))
        folders.emplace_back(folder);
    for (auto& folder : folders)
        folder /= "xdg-desktop-portal";
    folders.push_back(portals.parent_path());
    return folders;
}

}  // namespace

bool PortalBackendOffersWallpaper(const std::string& desktopName)
{
    namespace fs = std::filesystem;
    const char* portalDir = std::getenv("XDG_DESKTOP_PORTAL_DIR");
    const fs::path portals =
        portalDir != nullptr && *portalDir != '\0' ? fs::path(portalDir) : fs::path("/usr/share/xdg-desktop-portal/portals");

    struct Backend {
        std::vector<std::string> useIn;  // lower case
        bool wallpaper = false;
    };
    std::map<std::string, Backend> backends;  // by the file's name without ".portal"
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(portals, error)) {
        if (entry.path().extension() != ".portal")
            continue;
        const auto file = ReadKeyFile(entry.path());
        if (!file || !file->count("portal"))
            continue;
        const auto& portal = file->at("portal");
        Backend backend;
        if (const auto useIn = portal.find("UseIn"); useIn != portal.end())
            for (const std::string& desktop : Split(useIn->second, ';'))
                backend.useIn.push_back(Lower(desktop));
        if (const auto interfaces = portal.find("Interfaces"); interfaces != portal.end())
            for (const std::string& interface : Split(interfaces->second, ';'))
                backend.wallpaper = backend.wallpaper || interface == "org.freedesktop.impl.portal.Wallpaper";
        backends[entry.path().stem().string()] = backend;
    }

    const std::vector<fs::path> configFolders = PortalConfigFolders(portals);
    for (const std::string& name : Split(desktopName, ':')) {
        const std::string desktop = Lower(name);
        // The portal's own configuration for the desktop names its backends.
        for (const fs::path& folder : configFolders) {
            const auto config = ReadKeyFile(folder / (desktop + "-portals.conf"));
            if (!config)
                continue;
            const auto preferred = config->find("preferred");
            std::string chosen;
            if (preferred != config->end()) {
                const auto& keys = preferred->second;
                const auto wallpaper = keys.find("org.freedesktop.impl.portal.Wallpaper");
                const auto fallback = keys.find("default");
                chosen = wallpaper != keys.end() ? wallpaper->second : fallback != keys.end() ? fallback->second : "";
            }
            for (const std::string& backend : Split(chosen, ';')) {
                if (backend == "*") {
                    for (const auto& [ignored, any] : backends)
                        if (any.wallpaper)
                            return true;
                } else if (const auto found = backends.find(backend); found != backends.end() && found->second.wallpaper) {
                    return true;
                }
            }
            return false;
        }
        // Else the backends made for the desktop.
        bool belongs = false;
        for (const auto& [ignored, backend] : backends) {
            if (std::find(backend.useIn.begin(), backend.useIn.end(), desktop) == backend.useIn.end())
                continue;
            belongs = true;
            if (backend.wallpaper)
                return true;
        }
        if (belongs)
            return false;
    }
    return false;
}

std::unique_ptr<IDesktopBackground> OpenPortalBackground()
{
    std::unique_ptr<PortalBackground> portal = PortalBackground::Open();
    if (!portal)
        return nullptr;
    // GNOME's backend writes GNOME's settings, on GNOME and the desktops that follow its settings.
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    bool gnome = false;
    for (const QString& desktop : QString::fromUtf8(desktops != nullptr ? desktops : "").split(QLatin1Char(':')))
        gnome = gnome || desktop == QStringLiteral("GNOME");
    const QString backend = QStringLiteral("org.freedesktop.impl.portal.desktop.gnome");
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (gnome && bus != nullptr &&
        (bus->isServiceRegistered(backend).value() || bus->activatableServiceNames().value().contains(backend)))
        portal->SetSettings(OpenGnomeBackgroundSettings());
    return portal;
}

}  // namespace tarnwick

#include "PortalBackground.moc"
