#include "desktop/LinuxDesktop.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "base/AppError.h"
#include "base/FileIO.h"
#include "base/StageClock.h"
#include "desktop/StandaloneDesktop.h"
#include "registry/ScopedRegKey.h"

namespace tarnwick {

namespace {

constexpr std::string_view kPicturePrefix = "tarnwick-";
constexpr std::string_view kPictureSuffix = ".png";

AppError Failure(uint32_t number, const std::string& what)
{
    return AppError(number, DescribeSystemError(number), "The desktop wallpaper could not be set: " + what);
}

bool IsOurPicture(std::string_view name)
{
    constexpr size_t kHexDigits = 16;
    if (name.size() != kPicturePrefix.size() + kHexDigits + kPictureSuffix.size() ||
        !name.starts_with(kPicturePrefix) || !name.ends_with(kPictureSuffix))
        return false;
    for (char c : name.substr(kPicturePrefix.size(), kHexDigits))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// Makes the folder and its parents (0700 for new ones: the pictures are the user's own).
void MakeFolders(const FilePath& folder)
{
    struct stat info {};
    if (::stat(folder.Native().c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            throw Failure(ENOTDIR, "the picture folder " + folder.ToUtf8() + " is not a folder.");
        return;
    }
    const FilePath parent = folder.Parent();
    if (parent.Native() != folder.Native())
        MakeFolders(parent);
    if (::mkdir(folder.Native().c_str(), 0700) != 0 && errno != EEXIST)
        throw Failure(static_cast<uint32_t>(errno), "the picture folder " + folder.ToUtf8() + " cannot be made.");
}

bool Exists(const FilePath& path)
{
    struct stat info {};
    return ::stat(path.Native().c_str(), &info) == 0;
}

// The new files a Run that was ended while it wrote left of our pictures ("<picture>.<pid>.tmp").
void RemoveLeftPictures(const FilePath& folder)
{
    constexpr size_t kPictureSize = kPicturePrefix.size() + 16 + kPictureSuffix.size();
    std::vector<std::string> pictures;
    if (DIR* dir = ::opendir(folder.Native().c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.size() > kPictureSize && name.ends_with(".tmp") && IsOurPicture(name.substr(0, kPictureSize)))
                pictures.emplace_back(name.substr(0, kPictureSize));
        }
        ::closedir(dir);
    }
    for (const std::string& picture : pictures)
        RemoveLeftTemporaries(folder / picture);
}

// Our pictures in the folder other than keep, newest first.
std::vector<FilePath> OlderPictures(const FilePath& folder, const FilePath& keep)
{
    std::vector<std::pair<int64_t, FilePath>> found;
    if (DIR* dir = ::opendir(folder.Native().c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (!IsOurPicture(entry->d_name))
                continue;
            const FilePath path = folder / entry->d_name;
            struct stat info {};
            if (path == keep || ::lstat(path.Native().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            found.emplace_back(static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, path);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<FilePath> newestFirst;
    for (auto& [written, path] : found)
        newestFirst.push_back(std::move(path));
    return newestFirst;
}

// Our pictures: the files of our names in the picture folder, and a desktop's byte-for-byte
// copies of them, which hash to the name of one there.
class OurPictures : public IOurPictures {
public:
    explicit OurPictures(const FilePath& folder) : folder_(std::filesystem::path(folder.Native()).lexically_normal()) {}

    bool Holds(const FilePath& picture) const override
    {
        const std::filesystem::path path = std::filesystem::path(picture.Native()).lexically_normal();
        if (path.parent_path() == folder_ && IsOurPicture(path.filename().native()))
            return true;
        // A copy is as large as the picture drawn at a screen's size: a larger file is not one.
        constexpr off_t kLargest = off_t{256} << 20;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kLargest)
            return false;
        try {
            return Exists(FilePath(folder_) / LinuxDesktop::PictureName(ReadWholeFile(picture)));
        } catch (const AppError&) {
            return false;
        }
    }

private:
    std::filesystem::path folder_;
};

// What the store keeps for one desktop (by its name, whatever road reaches it): the road that
// reached it last, the picture of ours it was given, and what it showed before our first picture
// (that road's Shows bytes), which Close gives back.
struct KeptDesktop {
    std::string desktop;
    std::string road;
    std::string picture;  // a file name in the picture folder, empty for none
    std::string saved;
};

// The store's text for the kept desktops: "desktop road picture saved", each field encoded
// (LinuxDesktop::EncodeSaved, with ' ' and ';' encoded too), desktops separated by ';'.
std::string Field(std::string_view text)
{
    std::string field;
    for (char c : LinuxDesktop::EncodeSaved(text))
        field += c == ' ' ? "%20" : c == ';' ? "%3B" : std::string(1, c);
    return field;
}

std::string KeptText(const std::vector<KeptDesktop>& kept)
{
    std::string text;
    for (const KeptDesktop& desktop : kept)
        text += (text.empty() ? "" : ";") + Field(desktop.desktop) + ' ' + Field(desktop.road) + ' ' +
                Field(desktop.picture) + ' ' + Field(desktop.saved);
    return text;
}

std::vector<std::string> Split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t end = text.find(separator, at);
        parts.emplace_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos)
            return parts;
        at = end + 1;
    }
}

// The kept desktops; text that is not one is left out.
std::vector<KeptDesktop> ParseKept(std::string_view text)
{
    std::vector<KeptDesktop> kept;
    if (text.empty())
        return kept;
    for (const std::string& entry : Split(text, ';')) {
        const std::vector<std::string> fields = Split(entry, ' ');
        std::vector<std::string> decoded;
        for (const std::string& field : fields)
            if (std::optional<std::string> bytes = LinuxDesktop::DecodeSaved(field))
                decoded.push_back(std::move(*bytes));
        if (fields.size() == 4 && decoded.size() == 4 && !decoded[0].empty())
            kept.push_back({decoded[0], decoded[1], decoded[2], decoded[3]});
    }
    return kept;
}

// Held from keeping what the desktop shows to writing the record, so two panels (or a Run and a
// Close) take turns: an exclusive flock on the picture folder itself, which ends with the process.
class DesktopLock {
public:
    explicit DesktopLock(const FilePath& folder)
        : fd_(::open(folder.Native().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ < 0)
            throw Failure(static_cast<uint32_t>(errno), "the picture folder " + folder.ToUtf8() + " cannot be opened.");
        const auto until = std::chrono::steady_clock::now() + kBound;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if ((error != EWOULDBLOCK && error != EINTR) || std::chrono::steady_clock::now() >= until) {
                ::close(fd_);
                throw Failure(error == EWOULDBLOCK ? EBUSY : static_cast<uint32_t>(error),
                              error == EWOULDBLOCK ? "another Tarnwick has been changing the desktop background for " +
                                                         std::to_string(kBound.count()) + " s. Try again once it is done."
                                                   : "the picture folder " + folder.ToUtf8() + " cannot be locked.");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~DesktopLock() { ::close(fd_); }
    DesktopLock(const DesktopLock&) = delete;
    DesktopLock& operator=(const DesktopLock&) = delete;

private:
    // A road may wait long for the person (GNOME asks once whether the program may set the
    // background).
    static constexpr std::chrono::seconds kBound{60};
    int fd_;
};

class LinuxActiveDesktop : public ActiveDesktopSettings {
public:
    LinuxActiveDesktop(IRegistryOps& registry, IPageDrawer& drawer, const BackgroundOpeners& openers,
                       const DesktopSense& sense, const FilePath& pictureFolder)
        : registry_(registry), record_(registry), drawer_(drawer), openers_(openers), sense_(sense),
          pictureFolder_(pictureFolder)
    {
    }

    int32_t ApplyChanges(uint32_t flags) override
    {
        const bool save = (flags & kApplySave) != 0;
        if (save) {
            if (const int32_t hr = record_.Check(); hr < 0)
                return hr;
        }
        if ((flags & kApplyRefresh) == 0 || !path_)
            return save ? record_.Write(path_, style_) : kSOk;

        if (pictureFolder_.Empty())
            throw Failure(ENOENT, "neither XDG_DATA_HOME nor HOME is set, so there is no folder for the picture.");
        const DesktopDecision decision = sense_.decide ? sense_.decide() : DesktopDecision{};
        const bool plain = path_->empty();
        const PixelSize size = drawer_.ScreenSize();
        MakeFolders(pictureFolder_);
        RemoveLeftPictures(pictureFolder_);
        // Held from reading what the desktop shows, before the page is drawn (a road may show it
        // as soon as its pixels are there), to writing the record; the road goes before it, so
        // one that goes back on a failure does so under it.
        std::optional<DesktopLock> lock;
        std::unique_ptr<IDesktopBackground> background = OpenBackground(decision.road);
        const OurPictures ours(pictureFolder_);
        DesktopShows shows;
        std::vector<KeptDesktop> keptBefore;
        if (background) {
            lock.emplace(pictureFolder_);
            shows = background->Shows(ours);
            if (save)
                keptBefore = ReadKept(decision.desktop);
        }

        // The desktop gets ready with the pixels while their PNG is encoded; a road that can go
        // back on it shows them at once, else nothing is shown before the file is written.
        bool shownEarly = false;
        const auto prepare = [&background, &shownEarly](const PicturePixels& pixels) {
            if (background) {
                background->PreparePicture(pixels);
                shownEarly = background->ShowPrepared();
            }
        };
        const std::string png =
            plain ? drawer_.PlainPicture(size) : drawer_.DrawPageWithPixels(FilePath::FromUtf16(*path_), size, prepare);

        StageClock clock;
        const FilePath picture = pictureFolder_ / LinuxDesktop::PictureName(png);
        clock.Mark("name");
        if (!background) {
            // The picture stays for the person to set with the desktop's own tool.
            WritePicture(picture, png);
            throw NotReached(decision, picture, plain);
        }

        std::vector<KeptDesktop> kept = keptBefore;
        const auto here = std::find_if(kept.begin(), kept.end(),
                                       [&](const KeptDesktop& desktop) { return desktop.desktop == decision.desktop; });
        const std::optional<KeptDesktop> keptHere = here != kept.end() ? std::optional(*here) : std::nullopt;
        if (here != kept.end())
            kept.erase(here);

        if (plain) {
            // The person has chosen another background since, or none of ours was ever shown here
            // (a road that cannot read the desktop knows it from the store alone): nothing to take.
            if (shows.whose == DesktopShows::Whose::theirs ||
                (shows.whose == DesktopShows::Whose::unread && save && !keptHere))
                return save ? Record(keptBefore, kept) : kSOk;
            const bool isNew = WritePicture(picture, png);
            // Bytes of another road mean something else there: the plain picture instead.
            const std::string saved = keptHere && keptHere->road == background->Name() ? keptHere->saved : "";
            try {
                background->Restore(saved, picture, ours);
            } catch (...) {
                if (isNew)
                    ::unlink(picture.Native().c_str());
                throw;
            }
            if (save) {
                if (const int32_t hr = Record(keptBefore, kept); hr < 0)
                    return hr;  // the person's own is on the desktop; the next Close finds it
            }
            RemoveOlder({picture}, kept);
            return kSOk;
        }

        const bool isNew = WritePicture(picture, png);
        clock.Mark("write+fsync");
        if (save) {
            // What the person shows now is theirs to get back; our own picture never is, and where
            // the road cannot tell, what was kept stays.
            KeptDesktop next = keptHere.value_or(KeptDesktop{decision.desktop, background->Name(), "", ""});
            if (shows.whose == DesktopShows::Whose::theirs || !keptHere)
                next = {decision.desktop, background->Name(), "",
                        shows.whose == DesktopShows::Whose::theirs ? shows.saved : ""};
            next.picture = std::filesystem::path(picture.Native()).filename().string();
            kept.push_back(std::move(next));
            // Kept before the page is shown, so a Run ended on the way leaves it in the store.
            if (const int32_t hr = WriteKept(kept); hr < 0) {
                if (isNew)
                    ::unlink(picture.Native().c_str());
                return hr;
            }
        }
        // What this Run wrote goes again: the store as it was, the new picture.
        const auto takeBack = [&] {
            if (save)
                WriteKept(keptBefore);
            if (isNew)
                ::unlink(picture.Native().c_str());
        };
        if (save && shownEarly) {
            // Shown already: the record goes first, so that one that fails puts back what the
            // desktop showed (the road does as it goes).
            if (const int32_t hr = record_.Write(path_, style_); hr < 0) {
                takeBack();
                return hr;
            }
        }
        try {
            background->ShowPicture(picture);
            clock.Mark("hand-to-desktop");
        } catch (...) {
            takeBack();
            throw;
        }
        if (save && !shownEarly) {
            if (const int32_t hr = record_.Write(path_, style_); hr < 0) {
                // The record stays as it was, so the desktop goes back to what it showed before
                // this Run: what the road read, else our picture it showed.
                try {
                    if (!shows.saved.empty())
                        background->Restore(shows.saved, picture, ours);
                    else if (shows.whose != DesktopShows::Whose::theirs && keptHere && !keptHere->picture.empty())
                        background->ShowPicture(pictureFolder_ / keptHere->picture);
                } catch (const AppError&) {
                    // The record's failure is the one reported.
                }
                takeBack();
                return hr;
            }
        }
        // The desktop has its own copy or reads the new file now: the older ones go.
        RemoveOlder({picture}, kept);
        return kSOk;
    }

private:
    // The decided road's opener; null where this program has none for it.
    const BackgroundOpeners::Opener* OpenerOf(DesktopRoad road) const
    {
        const BackgroundOpeners::Opener* opener = nullptr;
        switch (road) {
        case DesktopRoad::portal:
            opener = &openers_.portal;
            break;
        case DesktopRoad::plasma:
            opener = &openers_.plasma;
            break;
        case DesktopRoad::xfconf:
            opener = &openers_.xfconf;
            break;
        case DesktopRoad::pcmanfm:
            opener = &openers_.pcmanfm;
            break;
        case DesktopRoad::mate:
            opener = &openers_.mate;
            break;
        case DesktopRoad::cinnamon:
            opener = &openers_.cinnamon;
            break;
        case DesktopRoad::sway:
            opener = &openers_.sway;
            break;
        case DesktopRoad::rootWindow:
            opener = &openers_.rootWindow;
            break;
        case DesktopRoad::none:
            break;
        }
        return opener != nullptr && *opener ? opener : nullptr;
    }

    // Null where the decided road is not there; the caller reports it once the picture is written.
    std::unique_ptr<IDesktopBackground> OpenBackground(DesktopRoad road) const
    {
        const BackgroundOpeners::Opener* opener = OpenerOf(road);
        return opener != nullptr ? (*opener)() : nullptr;
    }

    AppError NotReached(const DesktopDecision& decision, const FilePath& picture, bool plain) const
    {
        static constexpr const char* kRoads[] = {
            "the desktop portal (org.freedesktop.portal.Wallpaper on the session bus)",
            "Plasma's desktop scripting (org.kde.PlasmaShell on the session bus)",
            "xfdesktop's settings (xfconf, with xfdesktop on the session bus)",
            "the running pcmanfm or pcmanfm-qt desktop (--desktop)",
            "MATE's settings (org.mate.background)",
            "Cinnamon's settings (org.cinnamon.desktop.background)",
            "sway's IPC socket ($SWAYSOCK)",
            "the X root window, on an X11 display the program can open",
        };
        const bool built = OpenerOf(decision.road) != nullptr;
        const std::string desktop = "this desktop (" + decision.desktop + ")";
        const std::string why =
            !built ? desktop + " sets its background itself, and this program has no way to hand it a picture."
                   : desktop + " takes its background through " + kRoads[static_cast<int>(decision.road)] +
                         ", which did not answer.";
        const std::string what = plain ? "The plain picture" : "The page's picture";
        std::string how = "set it as the background with the desktop's own settings.";
        if (!decision.ownCommands.empty())
            how = "set it as the background with the desktop's own tool: " + OwnCommand(decision, picture) + ".";
        return Failure(built ? ENXIO : ENOTSUP,
                       why + " Nothing on the desktop was changed. " + what + " is " + picture.ToUtf8() + ": " + how);
    }

    // The commands, with the picture's path in place of "{}", each argument quoted for a shell
    // where it needs it.
    static std::string OwnCommand(const DesktopDecision& decision, const FilePath& picture)
    {
        std::string line;
        for (const std::vector<std::string>& command : decision.ownCommands) {
            line += line.empty() ? "" : " && ";
            for (std::string argument : command) {
                if (const size_t at = argument.find("{}"); at != std::string::npos)
                    argument.replace(at, 2, picture.ToUtf8());
                const bool plainWord = !argument.empty() &&
                                       argument.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                  "0123456789/._,:=+-") == std::string::npos;
                std::string quoted = "'";
                for (char c : argument)
                    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
                line += (line.empty() || line.ends_with("&& ") ? "" : " ") + (plainWord ? argument : quoted + "'");
            }
        }
        return "`" + line + "`";
    }

    // Writes the picture unless a file of its name holds it already (the name follows the
    // content, and a desktop may be showing it); true where it was written now.
    static bool WritePicture(const FilePath& picture, const std::string& png)
    {
        if (Exists(picture))
            return false;
        AtomicFileWriter writer(picture, "Cannot write the desktop picture " + picture.ToUtf8() + ".");
        writer.Write(png);
        writer.Commit();
        return true;
    }

    // Our pictures other than keep and those another desktop still names.
    void RemoveOlder(const FilePath& keep, const std::vector<KeptDesktop>& kept) const
    {
        for (const FilePath& file : OlderPictures(pictureFolder_, keep)) {
            const std::string name = std::filesystem::path(file.Native()).filename().string();
            if (std::none_of(kept.begin(), kept.end(), [&](const KeptDesktop& desktop) { return desktop.picture == name; }))
                ::unlink(file.Native().c_str());
        }
    }

    // The kept desktops; what an earlier version kept (one road's, no desktop named) counts as
    // this desktop's.
    std::vector<KeptDesktop> ReadKept(const std::string& desktop) const
    {
        if (!sense_.readRecord)
            return {};
        if (std::optional<std::string> text = sense_.readRecord(kKeptDesktopsValue))
            return ParseKept(*text);
        const std::optional<std::string> road = sense_.readRecord(kSavedRoadValue);
        if (!road || road->empty())
            return {};
        const std::optional<std::string> saved =
            LinuxDesktop::DecodeSaved(sense_.readRecord(kSavedDesktopValue).value_or(""));
        return {KeptDesktop{desktop, *road, "", saved.value_or("")}};
    }

    // Writes the kept desktops, then the record.
    int32_t Record(const std::vector<KeptDesktop>& before, const std::vector<KeptDesktop>& kept)
    {
        int32_t hr = WriteKept(kept);
        if (hr >= 0 && (hr = record_.Write(path_, style_)) < 0)
            WriteKept(before);
        return hr;
    }

    int32_t WriteKept(const std::vector<KeptDesktop>& kept)
    {
        return ChangeSaved([&](RegKey key) {
            int32_t status = kept.empty() ? registry_.RegDeleteValueA(key, kKeptDesktopsValue)
                                          : SetText(key, kKeptDesktopsValue, KeptText(kept));
            if (status == kErrorFileNotFound)
                status = kErrorSuccess;
            for (const char* name : {kSavedRoadValue, kSavedDesktopValue}) {
                if (status != kErrorSuccess)
                    break;
                status = registry_.RegDeleteValueA(key, name);
                if (status == kErrorFileNotFound)
                    status = kErrorSuccess;
            }
            return status;
        });
    }

    template <typename Change>
    int32_t ChangeSaved(Change&& change)
    {
        RegKey opened = 0;
        RegSecurityAttributes security{sizeof(RegSecurityAttributes), nullptr, 0};
        const int32_t status = registry_.RegCreateKeyExA(HKEY_CURRENT_USER_VALUE, kDesktopKey, 0, nullptr, 0,
                                                         kKeyAccess, &security, &opened, nullptr);
        if (status != kErrorSuccess)
            return HResultFromWin32(status);
        ScopedRegKey key(registry_, opened);
        return HResultFromWin32(change(key.Get()));
    }

    int32_t SetText(RegKey key, const char* name, const std::string& text)
    {
        std::string data = text;
        data.push_back('\0');
        return registry_.RegSetValueExA(key, name, 0, kRegSz, reinterpret_cast<const uint8_t*>(data.data()),
                                        static_cast<uint32_t>(data.size()));
    }

    IRegistryOps& registry_;
    WallpaperRecord record_;
    IPageDrawer& drawer_;
    const BackgroundOpeners& openers_;
    const DesktopSense& sense_;
    const FilePath& pictureFolder_;
};

}  // namespace

std::unique_ptr<IActiveDesktopObject> LinuxDesktop::CreateActiveDesktop()
{
    return std::make_unique<LinuxActiveDesktop>(registry_, drawer_, openers_, sense_, pictureFolder_);
}

std::string LinuxDesktop::DescribeStatus(int32_t hr)
{
    return DescribeDesktopStatus(hr);
}

FilePath LinuxDesktop::DefaultPictureFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
        return FilePath(std::string(data)) / "tarnwick";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return FilePath(std::string(home)) / ".local" / "share" / "tarnwick";
    return FilePath();
}

std::string LinuxDesktop::PictureName(std::string_view png)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char byte : png) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(kPicturePrefix) + hex + std::string(kPictureSuffix);
}

}  // namespace tarnwick

namespace tarnwick {

std::string LinuxDesktop::EncodeSaved(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '%' && c != '"' && c != '\\') {
            text.push_back(static_cast<char>(c));
        } else {
            text.push_back('%');
            text.push_back(kHex[c >> 4]);
            text.push_back(kHex[c & 0xF]);
        }
    }
    return text;
}

std::optional<std::string> LinuxDesktop::DecodeSaved(std::string_view text)
{
    const auto digit = [](char c) -> int {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = digit(text[i + 1]);
        const int low = digit(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

}  // namespace tarnwick
