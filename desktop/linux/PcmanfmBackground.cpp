#include "desktop/linux/PcmanfmBackground.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/AppError.h"

extern char** environ;

namespace tarnwick {

namespace {

// How long the command line may take to hand the picture over. One that runs longer became an
// instance of its own (the desktop's did not answer) and is ended.
constexpr auto kHandBound = std::chrono::seconds(10);
// How long the desktop may take to note the picture in its settings.
constexpr auto kTakeBound = std::chrono::seconds(5);

AppError PcmanfmFailure(uint32_t number, const std::string& what)
{
    return AppError(number, DescribeSystemError(number), "The desktop wallpaper could not be set: " + what);
}

std::vector<std::string> CommandLine(const std::string& pid)
{
    std::ifstream file("/proc/" + pid + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(file, argument, '\0');)
        arguments.push_back(argument);
    return arguments;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return nullptr;
    std::unique_ptr<PcmanfmBackground> found;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        struct stat info {};
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            ::stat(("/proc/" + pid).c_str(), &info) != 0 || info.st_uid != ::getuid())
            continue;
        const std::vector<std::string> arguments = CommandLine(pid);
        if (arguments.empty())
            continue;
        const std::string program = BaseName(arguments[0]);
        if (program != "pcmanfm" && program != "pcmanfm-qt")
            continue;
        bool desktop = false;
        std::string profile;
        for (size_t i = 1; i < arguments.size(); ++i) {
            desktop = desktop || arguments[i] == "--desktop";
            if (arguments[i].rfind("--profile=", 0) == 0)
                profile = arguments[i].substr(10);
            else if ((arguments[i] == "--profile" || arguments[i] == "-p") && i + 1 < arguments.size())
                profile = arguments[++i];
        }
        if (desktop) {
            found.reset(new PcmanfmBackground(program, profile));
            break;
        }
    }
    ::closedir(proc);
    return found;
}

std::string PcmanfmBackground::SettingsFile() const
{
    return program_ == "pcmanfm" ? ConfigHome() + "/pcmanfm/" + profile_ + "/desktop-items-0.conf"
                                 : ConfigHome() + "/pcmanfm-qt/" + profile_ + "/settings.conf";
}

std::optional<PcmanfmBackground::Setting> PcmanfmBackground::ReadSetting() const
{
    std::ifstream file(SettingsFile());
    if (!file)
        return std::nullopt;
    const std::string wallpaperKey = program_ == "pcmanfm" ? "wallpaper=" : "Wallpaper=";
    const std::string modeKey = program_ == "pcmanfm" ? "wallpaper_mode=" : "WallpaperMode=";
    Setting setting;
    bool desktopSection = program_ == "pcmanfm";  // pcmanfm-qt keeps them under [Desktop]
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line[0] == '[') {
            desktopSection = program_ == "pcmanfm" || line == "[Desktop]";
            continue;
        }
        if (!desktopSection)
            continue;
        if (line.rfind(wallpaperKey, 0) == 0)
            setting.wallpaper = line.substr(wallpaperKey.size());
        else if (line.rfind(modeKey, 0) == 0)
            setting.mode = line.substr(modeKey.size());
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
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (ended == 0) {
        ::kill(child, SIGTERM);
        ::waitpid(child, &status, 0);
        throw PcmanfmFailure(ETIMEDOUT, "the running " + program_ + " desktop did not take the picture: `" +
                                            program_ + " --set-wallpaper` did not end.");
    }
    if (ended < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw PcmanfmFailure(EIO, "`" + program_ + " --set-wallpaper` failed with status " +
                                      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ".");

    // The exit status says only that the instance was handed the request; its settings say that
    // it took it.
    if (wallpaper.empty() || !ReadSetting())
        return;
    const auto taken = std::chrono::steady_clock::now() + kTakeBound;
    while (std::chrono::steady_clock::now() < taken) {
        const std::optional<Setting> now = ReadSetting();
        if (now && now->wallpaper == wallpaper)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw PcmanfmFailure(EIO, "the running " + program_ + " desktop did not take the picture " + wallpaper +
                                  " (its settings " + SettingsFile() + " do not name it).");
}

void PcmanfmBackground::ShowPicture(const FilePath& picture)
{
    Hand(picture.ToUtf8(), "stretch");
}

void PcmanfmBackground::ShowPlain(const FilePath& plainPicture)
{
    Hand(plainPicture.ToUtf8(), "stretch");
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
