#include "desktop/linux/PcmanfmBackground.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <QSettings>
#include <QString>
#include <QVariant>

#include "base/AppError.h"
#include "desktop/linux/BusCall.h"
#include "desktop/linux/OwnProcesses.h"

extern char** environ;

namespace tarnwick {

namespace {

// How long the command line may take to hand the picture over. One that runs longer became an
// instance of its own (the desktop's did not answer), or hung after handing it over, and is ended.
constexpr auto kHandBound = std::chrono::seconds(10);
// How long the desktop may take to note the picture in its settings.
constexpr auto kTakeBound = std::chrono::seconds(5);

AppError PcmanfmFailure(uint32_t number, const std::string& what)
{
    return AppError(number, DescribeSystemError(number), "The desktop wallpaper could not be set: " + what);
}

std::string ConfigHome()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return config;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

}  // namespace

std::unique_ptr<PcmanfmBackground> PcmanfmBackground::Open()
{
    for (const OwnProcess& process : OwnProcessesOf({"pcmanfm", "pcmanfm-qt"})) {
        const std::vector<std::string>& arguments = process.arguments;
        bool desktop = false;
        std::string profile;
        for (size_t i = 1; i < arguments.size(); ++i) {
            desktop = desktop || arguments[i] == "--desktop";
            if (arguments[i].rfind("--profile=", 0) == 0)
                profile = arguments[i].substr(10);
            else if ((arguments[i] == "--profile" || arguments[i] == "-p") && i + 1 < arguments.size())
                profile = arguments[++i];
        }
        if (desktop)
            return std::unique_ptr<PcmanfmBackground>(new PcmanfmBackground(BaseName(arguments[0]), profile));
    }
    return nullptr;
}

std::string PcmanfmBackground::SettingsFile() const
{
    return ConfigHome() + "/" + SettingsName();
}

std::string PcmanfmBackground::SettingsName() const
{
    return program_ == "pcmanfm" ? "pcmanfm/" + profile_ + "/desktop-items-0.conf"
                                 : "pcmanfm-qt/" + profile_ + "/settings.conf";
}

std::string PcmanfmBackground::ReadFile() const
{
    // The user's own file, else the system's, as the desktop itself looks for them: pcmanfm-qt's
    // settings in the first config folder that has them; pcmanfm's desktop in its profile's
    // pcmanfm.conf ([desktop]).
    const std::string own = SettingsFile();
    if (::access(own.c_str(), F_OK) == 0)
        return own;
    const std::string name = program_ == "pcmanfm" ? "pcmanfm/" + profile_ + "/pcmanfm.conf" : SettingsName();
    std::vector<std::string> folders;
    if (program_ == "pcmanfm")
        folders.push_back(ConfigHome());
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::istringstream system(dirs != nullptr && *dirs != '\0' ? dirs : "/etc/xdg");
    for (std::string folder; std::getline(system, folder, ':');)
        if (!folder.empty() && folder[0] == '/')
            folders.push_back(folder);
    // pcmanfm's own file wins, else the last system folder's (libfm loads them in turn, each
    // one's in place of the one before); pcmanfm-qt's the first folder's.
    if (program_ == "pcmanfm" && folders.size() > 1)
        std::reverse(folders.begin() + 1, folders.end());
    for (const std::string& folder : folders)
        if (::access((folder + "/" + name).c_str(), F_OK) == 0)
            return folder + "/" + name;
    return own;
}

std::optional<PcmanfmBackground::Setting> PcmanfmBackground::ReadSetting() const
{
    const std::string file = ReadFile();
    if (::access(file.c_str(), R_OK) != 0)
        return std::nullopt;
    Setting setting;
    if (program_ == "pcmanfm-qt") {
        // Written by QSettings: read the way it writes (quoted values, doubled backslashes, and
        // on Qt 5 other than ASCII as \x escapes).
        const QSettings settings(QString::fromLocal8Bit(file.c_str()), QSettings::IniFormat);
        if (settings.status() != QSettings::NoError)
            return std::nullopt;
        const auto text = [&](const char* key) {
            const QVariant value = settings.value(QLatin1String(key));
            const QString joined = value.typeId() == QMetaType::QStringList
                                       ? value.toStringList().join(QLatin1Char(','))
                                       : value.toString();
            return joined.toStdString();
        };
        setting.wallpaper = text("Desktop/Wallpaper");
        setting.mode = text("Desktop/WallpaperMode");
        return setting;
    }
    // Written by pcmanfm as it is, one key a line; in pcmanfm.conf under [desktop].
    const bool shared = file.ends_with("/pcmanfm.conf");
    bool inside = !shared;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (shared && !line.empty() && line[0] == '[')
            inside = line == "[desktop]";
        if (!inside)
            continue;
        if (line.rfind("wallpaper=", 0) == 0)
            setting.wallpaper = line.substr(10);
        else if (line.rfind("wallpaper_mode=", 0) == 0)
            setting.mode = line.substr(15);
    }
    return setting;
}

void PcmanfmBackground::Hand(const std::string& wallpaper, const std::string& mode)
{
    std::vector<std::string> arguments{program_};
    if (profileGiven_)
        arguments.push_back("--profile=" + profile_);
    if (!wallpaper.empty())
        arguments.push_back("--set-wallpaper=" + wallpaper);
    if (!mode.empty())
        arguments.push_back("--wallpaper-mode=" + mode);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, program_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw PcmanfmFailure(static_cast<uint32_t>(spawned), program_ + " cannot be started.");

    int status = 0;
    const auto until = std::chrono::steady_clock::now() + kHandBound;
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        PauseKeepingWindowsPainted(std::chrono::milliseconds(20));
    const bool hung = ended == 0;
    if (hung) {
        ::kill(child, SIGTERM);
        ::waitpid(child, &status, 0);
    } else if (ended < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw PcmanfmFailure(EIO, "`" + program_ + " --set-wallpaper` failed with status " +
                                      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ".");
    }
    const auto notEnded = [&] {
        return PcmanfmFailure(ETIMEDOUT, "the running " + program_ + " desktop did not take the picture: `" +
                                             program_ + " --set-wallpaper` did not end.");
    };

    // The exit status says only that the instance was handed the request; its settings say that
    // it took it. A command line that handed it over and then hung has still changed the desktop:
    // the settings decide then too, so what was kept for the picture on screen stays.
    if (wallpaper.empty() || !ReadSetting()) {
        if (hung)
            throw notEnded();
        return;
    }
    // (A hung one has given the desktop time enough: one look.)
    const auto taken = std::chrono::steady_clock::now() + (hung ? std::chrono::seconds(0) : kTakeBound);
    for (;;) {
        const std::optional<Setting> now = ReadSetting();
        if (now && now->wallpaper == wallpaper)
            return;
        if (std::chrono::steady_clock::now() >= taken)
            break;
        PauseKeepingWindowsPainted(std::chrono::milliseconds(50));
    }
    if (hung)
        throw notEnded();
    throw PcmanfmFailure(EIO, "the running " + program_ + " desktop did not take the picture " + wallpaper +
                                  " (its settings " + SettingsFile() + " do not name it).");
}

void PcmanfmBackground::ShowPicture(const FilePath& picture)
{
    Hand(TextOf(picture), ModeForPicture());
}

void PcmanfmBackground::ShowPlain(const FilePath& plainPicture)
{
    Hand(TextOf(plainPicture), ModeForPicture());
}

std::string PcmanfmBackground::ModeForPicture() const
{
    if (program_ == "pcmanfm")
        return "stretch";
    // pcmanfm-qt never notes a mode given on its command line, and takes one only where it
    // differs from the noted one: a mode changed there cannot be changed back. A picture of the
    // screen's size fills it in every mode that shows a picture, so such a mode is kept.
    const std::optional<Setting> setting = ReadSetting();
    const std::string mode = setting ? setting->mode : "";
    for (const char* shows : {"stretch", "fit", "center", "tile", "zoom"})
        if (mode == shows)
            return {};
    return "stretch";
}

std::string PcmanfmBackground::TextOf(const FilePath& picture) const
{
    // pcmanfm-qt reads its command line as text, and its settings hold text: bytes that are not
    // UTF-8 would reach it changed, and another picture would be named.
    if (picture.ToUtf8() != picture.Native())
        throw PcmanfmFailure(EILSEQ, program_ + " takes a picture's path as UTF-8 text, and the path " +
                                         picture.ToUtf8() + " is not (a folder's name holds other bytes).");
    return picture.Native();
}

DesktopShows PcmanfmBackground::Shows(const IOurPictures& ours)
{
    const std::optional<Setting> setting = ReadSetting();
    if (!setting)
        return {};
    // Without a wallpaper there is nothing to hand back (pcmanfm-qt takes no mode alone): Close
    // shows the plain picture.
    if (setting->wallpaper.empty())
        return {DesktopShows::Whose::theirs, {}};
    return {ours.Holds(FilePath(setting->wallpaper)) ? DesktopShows::Whose::ours : DesktopShows::Whose::theirs,
            setting->wallpaper + "\n" + setting->mode};
}

void PcmanfmBackground::Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours)
{
    (void)ours;  // one wallpaper for the whole desktop, which the caller found ours
    const size_t newline = saved.find('\n');
    if (newline == 0 || newline == std::string::npos || saved.find('\n', newline + 1) != std::string::npos) {
        ShowPlain(plainPicture);
        return;
    }
    Hand(saved.substr(0, newline), saved.substr(newline + 1));
}

std::unique_ptr<IDesktopBackground> OpenPcmanfmBackground()
{
    return PcmanfmBackground::Open();
}

}  // namespace tarnwick
