// The portal background against the recording portal, on a private session bus of the test's
// own (no services to activate, so an absent portal stays absent).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>

#include <unistd.h>

#include "base/AppError.h"
#include "desktop/linux/PortalBackground.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const fs::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A folder of the case's own, removed at the end.
class Folder {
public:
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "tarnwick-portal.XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// The recording portal, running until the case ends.
class RecordingPortal {
public:
    explicit RecordingPortal(const fs::path& folder, QStringList options = {})
        : log_(folder / "portal.log"), copies_(folder / "copies")
    {
        fs::create_directories(copies_);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(TARNWICK_RECORDING_PORTAL),
                       QStringList{"--log", QString::fromStdString(log_.string()), "--copies",
                                   QString::fromStdString(copies_.string())} +
                           options);
        EXPECT_TRUE(process_.waitForReadyRead(10000)) << "the recording portal did not start";
        EXPECT_EQ("ready\n", process_.readAll().toStdString());
    }
    ~RecordingPortal()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(5000);
        }
    }
    std::vector<std::string> Log() const { return Lines(log_); }
    fs::path Copy(int request) const { return copies_ / (std::to_string(request) + ".png"); }
    bool Running() const { return process_.state() != QProcess::NotRunning; }

private:
    fs::path log_;
    fs::path copies_;
    QProcess process_;
};

// A fault that loses the answer ends the case in seconds rather than ten minutes.
std::unique_ptr<PortalBackground> OpenPortal()
{
    auto portal = PortalBackground::Open();
    EXPECT_NE(nullptr, portal);
    if (portal)
        portal->SetSilenceBound(std::chrono::seconds(10));
    return portal;
}

const std::string kRefused =
    "The desktop did not change the background: it failed, or the change is not allowed. A refusal is "
    "remembered by the portal for every program without an app id, this one too; to be asked again, remove it "
    "from the permission store's wallpaper table: gdbus call --session --dest "
    "org.freedesktop.impl.portal.PermissionStore --object-path /org/freedesktop/impl/portal/PermissionStore "
    "--method org.freedesktop.impl.portal.PermissionStore.DeletePermission wallpaper wallpaper \"''\"";

// The error a call ends in.
template <class F>
AppError ErrorOf(F call)
{
    try {
        call();
    } catch (const AppError& error) {
        return error;
    }
    ADD_FAILURE() << "no error";
    return AppError(0, "", "");
}

// Without a session bus, or with none offering the interface, there is no portal background; an
// unset address is not taken as leave to start a bus of our own.
TEST(Portal, AbsentWithoutBusOrWithoutPortal)
{
    const std::string address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string runtimeBefore = runtime != nullptr ? runtime : "";
    Folder emptyRuntime;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", emptyRuntime.Path().c_str(), 1);
    EXPECT_EQ(nullptr, PortalBackground::Open());
    EXPECT_EQ(nullptr, OpenPortalBackground());
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    if (runtime != nullptr)
        setenv("XDG_RUNTIME_DIR", runtimeBefore.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");

    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    EXPECT_EQ(nullptr, PortalBackground::Open());
}

// Run and Close: each picture goes to the portal as an open file (its absolute path, whatever its
// encoding), with the options for the background and a token of ours; the portal reads the
// picture from it. The window's loop keeps running meanwhile.
TEST(Portal, HandsThePictureWithTheOptions)
{
    Folder folder;
    RecordingPortal recorder(folder.Path(), {"--answers", "0", "--delay", "300"});
    const fs::path pictures =
        folder.Path() / "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC caf\xE9";
    fs::create_directories(pictures);
    std::ofstream(pictures / "page 1%#.png", std::ios::binary) << "the page's picture\xFF";
    std::ofstream(pictures / "plain.png", std::ios::binary) << "plain";

    auto portal = OpenPortal();
    ASSERT_NE(nullptr, portal);
    EXPECT_EQ(1u, portal->Version());
    EXPECT_EQ("the desktop portal", portal->Name());

    int ticks = 0;
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, [&] { ++ticks; });
    repaint.start(20);
    portal->ShowPicture(FilePath(pictures.string() + "/page 1%#.png"));
    EXPECT_GT(ticks, 0) << "the event loop stood still while the portal was asked";
    // A relative path is made absolute against the working folder.
    const fs::path before = fs::current_path();
    fs::current_path(pictures);
    portal->ShowPlain(FilePath(std::string("plain.png")));
    fs::current_path(before);

    const auto log = recorder.Log();
    ASSERT_EQ(2u, log.size());
    const std::regex token("option handle_token=s:\"tarnwick_[0-9]+_([0-9]+)\"");
    std::smatch first, second;
    ASSERT_TRUE(std::regex_search(log[0], first, token)) << log[0];
    ASSERT_TRUE(std::regex_search(log[1], second, token)) << log[1];
    EXPECT_NE(first[1], second[1]) << "each request has a token of its own";
    const std::string options = " option set-on=s:\"background\" option show-preview=b:false copy ";
    EXPECT_EQ("SetWallpaperFile parent_window=s:\"\" file=" + (pictures / "page 1%#.png").string() + " " +
                  first[0].str() + options + recorder.Copy(1).string() + " answer 0",
              log[0]);
    EXPECT_EQ("SetWallpaperFile parent_window=s:\"\" file=" + (pictures / "plain.png").string() + " " +
                  second[0].str() + options + recorder.Copy(2).string() + " answer 0",
              log[1]);
    EXPECT_EQ("the page's picture\xFF", ReadFile(recorder.Copy(1)));
    EXPECT_EQ("plain", ReadFile(recorder.Copy(2)));
}

// Portals before version 0.9 answer on a request path of their own, which only the reply names,
// and answer at once: the answer is not lost however soon after the reply it comes, every time.
TEST(Portal, FollowsTheHandleOfAnOlderPortal)
{
    Folder folder;
    RecordingPortal recorder(folder.Path(), {"--handle", "own"});
    std::ofstream(folder.Path() / "page.png") << "page";
    auto portal = OpenPortal();
    ASSERT_NE(nullptr, portal);
    for (int i = 0; i < 20; ++i)
        portal->ShowPicture(FilePath(folder.Path() / "page.png"));
    EXPECT_EQ(20u, recorder.Log().size());
}

// Each way a request can end badly is its own clear error: cancelled by the person, failed or
// refused by the desktop (with how to undo a refusal), an answer the portal does not define, a
// refused call, a picture that cannot be opened (the portal is not asked), silence for the bound
// (an answer that never comes, and a call never answered: the call's own timeout is the bound),
// and the portal leaving the bus while we wait (not a hang).
TEST(Portal, EveryBadEndIsItsOwnError)
{
    Folder folder;
    const fs::path picture = folder.Path() / "page.png";
    std::ofstream(picture) << "page";
    struct Expected {
        uint32_t number;
        std::string description;
    };
    std::vector<Expected> expected{
        {ECANCELED, "Cancelled: the desktop did not allow the program to change the background"},
        {EIO, kRefused},
        {EPROTO, "The portal gave an answer it does not define (7)"},
        {ECOMM, "The portal refused the request: org.freedesktop.portal.Error.NotAllowed: Wallpaper changes are "
                "not allowed"},
        {ENOENT, "No such file or directory"},
        {ETIMEDOUT, "The portal gave no answer within 500 ms"},
        {ETIMEDOUT, "The portal gave no answer within 500 ms"},
    };
    {
        RecordingPortal recorder(folder.Path(), {"--answers", "1,2,7,error,silent,noreply"});
        auto portal = OpenPortal();
        ASSERT_NE(nullptr, portal);
        portal->SetSilenceBound(std::chrono::milliseconds(500));
        for (size_t i = 0; i < expected.size(); ++i) {
            // The fifth picture is not there: the portal cannot copy it.
            const FilePath path = i == 4 ? FilePath(folder.Path() / "missing.png") : FilePath(picture);
            const auto started = std::chrono::steady_clock::now();
            const AppError error = ErrorOf([&] { portal->ShowPicture(path); });
            // Within the bound, not D-Bus's own 25 s for a call without a timeout of its own.
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << i;
            EXPECT_EQ(expected[i].number, error.Number()) << i;
            EXPECT_EQ(expected[i].description, error.Description()) << i;
            EXPECT_EQ("Cannot make the picture " + path.ToUtf8() +
                          " the desktop background through the desktop portal.",
                      error.Context());
        }
        EXPECT_EQ(expected.size() - 1, recorder.Log().size());
        // Close fails the same way, with a report of its own.
        const AppError plain = ErrorOf([&] { portal->ShowPlain(FilePath(picture)); });
        EXPECT_EQ(ETIMEDOUT, plain.Number());
        EXPECT_EQ("Cannot take the page off the desktop through the desktop portal (the plain picture " +
                      picture.string() + ").",
                  plain.Context());
    }
    RecordingPortal leaving(folder.Path(), {"--answers", "leave", "--delay", "300"});
    auto portal = OpenPortal();
    ASSERT_NE(nullptr, portal);
    const AppError gone = ErrorOf([&] { portal->ShowPicture(FilePath(picture)); });
    EXPECT_EQ(ENOLINK, gone.Number());
    EXPECT_EQ("The portal left the session bus without answering", gone.Description());
}

// A portal the bus starts on demand takes a while to answer the probe (here 1.5 s): it is found
// all the same, the window's loop runs meanwhile, and a request then waits the ten minutes a
// person may take to answer.
TEST(Portal, FoundWhenTheBusStartsItSlowly)
{
    Folder folder;
    const fs::path services = folder.Path() / "services";
    fs::create_directories(services);
    fs::create_directories(folder.Path() / "copies");
    std::ofstream(services / "portal.service")
        << "[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=" TARNWICK_RECORDING_PORTAL " --log "
        << (folder.Path() / "portal.log").string() << " --copies " << (folder.Path() / "copies").string()
        << " --start-delay 1500\n";
    std::string config = ReadFile(TARNWICK_BUS_CONFIG);
    config.replace(config.find("<policy"), 0, "<servicedir>" + services.string() + "</servicedir>\n  ");
    std::ofstream(folder.Path() / "bus.conf") << config;
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QString::fromStdString("--config-file=" + (folder.Path() / "bus.conf").string()),
                  QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    {
        QDBusConnection bus = QDBusConnection::connectToBus(daemon.readLine().trimmed(), QStringLiteral("slow"));
        int ticks = 0;
        QTimer repaint;
        QObject::connect(&repaint, &QTimer::timeout, [&] { ++ticks; });
        repaint.start(20);
        auto portal = PortalBackground::Open(bus);
        ASSERT_NE(nullptr, portal) << "a portal that takes 1.5 s to start was missed";
        EXPECT_GT(ticks, 20) << "the event loop stood still while the portal started";
        EXPECT_EQ(std::chrono::minutes(10), portal->SilenceBound());
        // The bus started it; the case ends it.
        const QDBusReply<uint> pid = bus.interface()->servicePid(QStringLiteral("org.freedesktop.portal.Desktop"));
        ASSERT_TRUE(pid.isValid());
        kill(static_cast<pid_t>(pid.value()), SIGTERM);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("slow"));
    daemon.terminate();
    daemon.waitForFinished(5000);
}

// Whether the desktop's own backend offers the wallpaper interface: by UseIn= as Debian 12's portal
// chooses, or by the desktop's portals.conf where there is one; another desktop's backend never
// counts. Debian's own backends: GNOME's offers it, KDE Plasma 5's does not.
TEST(Portal, BackendOfTheDesktopDecides)
{
    Folder folder;
    const fs::path portals = folder.Path() / "portals";
    const fs::path config = folder.Path() / "config" / "xdg-desktop-portal";
    fs::create_directories(portals);
    fs::create_directories(config);
    const std::string wallpaper = "org.freedesktop.impl.portal.Wallpaper";
    const auto backend = [&](const char* name, const std::string& interfaces, const char* useIn) {
        std::ofstream(portals / (std::string(name) + ".portal"))
            << "[portal]\nDBusName=org.freedesktop.impl.portal.desktop." << name
            << "\nInterfaces=org.freedesktop.impl.portal.Access;" << interfaces << "\nUseIn=" << useIn << "\n";
    };
    backend("gnome", wallpaper + ";org.freedesktop.impl.portal.Print;", "gnome");
    backend("gtk", "org.freedesktop.impl.portal.FileChooser", "gnome;XFCE");
    backend("kde", "org.freedesktop.impl.portal.Print", "KDE");
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("XDG_DESKTOP_PORTAL_DIR", portals.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder.Path() / "config").c_str(), 1);
    for (const char* name : {"XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        setenv(name, (folder.Path() / "none").c_str(), 1);

    EXPECT_TRUE(PortalBackendOffersWallpaper("GNOME"));
    EXPECT_TRUE(PortalBackendOffersWallpaper("ubuntu:GNOME"));
    EXPECT_FALSE(PortalBackendOffersWallpaper("KDE"));
    EXPECT_FALSE(PortalBackendOffersWallpaper("XFCE")) << "GNOME's backend answered for Xfce";
    EXPECT_FALSE(PortalBackendOffersWallpaper("MATE"));
    // KDE Plasma 6.5 and later, choosing its backend in kde-portals.conf.
    backend("kde", wallpaper, "KDE");
    std::ofstream(config / "kde-portals.conf") << "[preferred]\ndefault=kde\n";
    EXPECT_TRUE(PortalBackendOffersWallpaper("KDE"));
    std::ofstream(config / "kde-portals.conf") << "[preferred]\ndefault=kde\n" << wallpaper << "=none\n";
    EXPECT_FALSE(PortalBackendOffersWallpaper("KDE"));
    std::ofstream(config / "xfce-portals.conf") << "[preferred]\ndefault=gtk;gnome\n";
    EXPECT_TRUE(PortalBackendOffersWallpaper("XFCE")) << "the desktop's own choice of GNOME's backend";

    for (const char* name : {"XDG_DESKTOP_PORTAL_DIR", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        unsetenv(name);
    if (fs::exists("/usr/share/xdg-desktop-portal/portals/gnome.portal") &&
        fs::exists("/usr/share/xdg-desktop-portal/portals/kde.portal") &&
        !fs::exists(home + "/.config/xdg-desktop-portal")) {
        EXPECT_TRUE(PortalBackendOffersWallpaper("GNOME"));
        EXPECT_FALSE(PortalBackendOffersWallpaper("KDE"));
        EXPECT_FALSE(PortalBackendOffersWallpaper("XFCE"));
    }
}

}  // namespace
}  // namespace tarnwick

// A private bus for the whole run, whose address every connection of this process uses.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=" TARNWICK_BUS_CONFIG),
                                              QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus.waitForReadyRead(10000)) {
        std::fprintf(stderr, "cannot start a private session bus: %s\n", qPrintable(bus.errorString()));
        return 1;
    }
    const std::string address = bus.readLine().trimmed().toStdString();
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    const int status = RUN_ALL_TESTS();
    bus.terminate();
    bus.waitForFinished(5000);
    return status;
}
