#include "desktop/LinuxDesktop.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "base/AppError.h"
#include "base/FileIO.h"
#include "desktop/StandaloneDesktop.h"

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

class LinuxActiveDesktop : public ActiveDesktopSettings {
public:
    LinuxActiveDesktop(IRegistryOps& registry, IPageDrawer& drawer, const BackgroundOpeners& openers,
                       const FilePath& pictureFolder)
        : record_(registry), drawer_(drawer), openers_(openers), pictureFolder_(pictureFolder)
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
        std::unique_ptr<IDesktopBackground> background = OpenBackground();
        const bool plain = path_->empty();
        const PixelSize size = drawer_.ScreenSize();
        const std::string png =
            plain ? drawer_.PlainPicture(size) : drawer_.DrawPage(FilePath::FromUtf16(*path_), size);

        MakeFolders(pictureFolder_);
        const FilePath picture = pictureFolder_ / LinuxDesktop::PictureName(png);
        const std::vector<FilePath> older = OlderPictures(pictureFolder_, picture);
        // The name follows the content: a file of that name already holds this picture, and a
        // desktop may be showing it, so it is left as it is.
        const bool isNew = !Exists(picture);
        if (isNew) {
            AtomicFileWriter writer(picture, "Cannot write the desktop picture " + picture.ToUtf8() + ".");
            writer.Write(png);
            writer.Commit();
        }
        try {
            if (plain)
                background->ShowPlain(picture);
            else
                background->ShowPicture(picture);
        } catch (...) {
            if (isNew)
                ::unlink(picture.Native().c_str());
            throw;
        }

        if (save) {
            if (const int32_t hr = record_.Write(path_, style_); hr < 0) {
                // The record stays as it was, so the desktop goes back to our last picture.
                if (!older.empty()) {
                    try {
                        background->ShowPicture(older.front());
                    } catch (const AppError&) {
                        // The record's failure is the one reported.
                    }
                }
                if (isNew)
                    ::unlink(picture.Native().c_str());
                return hr;
            }
        }
        // The desktop has its own copy or reads the new file now: the older ones go.
        for (const FilePath& file : older)
            ::unlink(file.Native().c_str());
        return kSOk;
    }

private:
    std::unique_ptr<IDesktopBackground> OpenBackground()
    {
        if (openers_.portal)
            if (auto portal = openers_.portal())
                return portal;
        if (openers_.rootWindow)
            if (auto root = openers_.rootWindow())
                return root;
        throw Failure(ENXIO,
                      "there is no desktop to show the page on. Neither does a desktop portal offer the wallpaper "
                      "interface (org.freedesktop.portal.Wallpaper) on the session bus, nor does the program run "
                      "on an X11 display whose root window it could set.");
    }

    WallpaperRecord record_;
    IPageDrawer& drawer_;
    const BackgroundOpeners& openers_;
    const FilePath& pictureFolder_;
};

}  // namespace

std::unique_ptr<IActiveDesktopObject> LinuxDesktop::CreateActiveDesktop()
{
    return std::make_unique<LinuxActiveDesktop>(registry_, drawer_, openers_, pictureFolder_);
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
