#include "desktop/PageWallpaper.h"

#include "base/AppError.h"
#include "base/FileIO.h"

namespace tarnwick {

namespace {

constexpr std::string_view kPrefix = "tarnwick-";
constexpr std::string_view kSuffix = ".bmp";

// Stretched, not tiled: the picture is the screen's exact size, so nothing is scaled.
const PictureWallpaper kPlacement{u"", u"2", u"0", {}};

std::string Unchanged(const FilePath& page, const std::string& why)
{
    return "The page was written to " + page.ToUtf8() + ", but it did not become the desktop wallpaper: " + why +
           " The wallpaper was left as it was.";
}

}  // namespace

bool SameWindowsPath(std::u16string_view a, std::u16string_view b)
{
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string PageWallpaper::PictureName(std::string_view bytes)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    std::string name(kPrefix);
    for (int shift = 60; shift >= 0; shift -= 4)
        name.push_back("0123456789abcdef"[(hash >> shift) & 0xF]);
    return name + std::string(kSuffix);
}

bool PageWallpaper::IsPictureName(std::string_view name)
{
    constexpr size_t kDigits = 16;
    if (name.size() != kPrefix.size() + kDigits + kSuffix.size() || !name.starts_with(kPrefix) ||
        !name.ends_with(kSuffix))
        return false;
    for (char c : name.substr(kPrefix.size(), kDigits))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

bool PageWallpaper::ShowsOurs(const std::vector<std::u16string>& names, const FilePath& folder) const
{
    if (folder.Empty())
        return false;
    for (const std::u16string& name : names) {
        const FilePath shown = FilePath::FromUtf16(name);
        std::string file;
        for (auto c : shown.FileName())
            file.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
        if (IsPictureName(file) && SameWindowsPath(shown.Parent().ToUtf16(), folder.ToUtf16()))
            return true;
    }
    return false;
}

void PageWallpaper::RemoveOlder(const FilePath& folder, const std::string& keep)
{
    for (const std::string& name : desktop_.FileNames(folder))
        if (IsPictureName(name) && name != keep)
            desktop_.RemoveFile(folder / name);
}

void PageWallpaper::Show(const FilePath& page)
{
    if (const std::optional<std::string> refusal = desktop_.Refusal())
        throw AppError(kErrorNoAccess, DescribeSystemError(kErrorNoAccess), Unchanged(page, *refusal));
    const FilePath folder = desktop_.PictureFolder();
    if (folder.Empty())
        throw AppError(
            kErrorNotSupported, DescribeSystemError(kErrorNotSupported),
            Unchanged(page, "there is no folder for its picture (neither LOCALAPPDATA nor APPDATA is set)."));

    // With several monitors that each keep a picture, the page goes on the primary one, drawn at
    // its size; the others keep the person's.
    const std::vector<MonitorWallpaper> monitors = desktop_.Monitors();
    const MonitorWallpaper* primary = nullptr;
    for (const MonitorWallpaper& monitor : monitors)
        if (monitors.size() > 1 && monitor.left == 0 && monitor.top == 0)
            primary = &monitor;
    const auto shownNames = [&] {
        if (primary == nullptr)
            return desktop_.ShownNames();
        std::vector<std::u16string> names;
        for (const MonitorWallpaper& monitor : desktop_.Monitors())
            if (monitor.id == primary->id)
                names.push_back(monitor.path);
        return names;
    };

    std::string picture;
    try {
        picture = engine_.DrawPage(page, primary != nullptr ? primary->size : desktop_.ScreenSize());
    } catch (const AppError& error) {
        throw AppError(error.Number(), error.Description(), Unchanged(page, error.Context()));
    }
    const std::string name = PictureName(picture);
    const FilePath file = folder / name;
    // The name follows the content: a file of that name holds this picture already.
    bool written = false;
    for (const std::string& existing : desktop_.FileNames(folder))
        written = written || existing == name;
    const bool isNew = !written;

    // What the person has now is theirs, kept before anything changes, unless it is our own
    // picture of an earlier Run: then the record that Run made stays.
    PictureWallpaper before = desktop_.Current();
    for (const MonitorWallpaper& monitor : primary != nullptr ? monitors : std::vector<MonitorWallpaper>())
        before.monitors.emplace_back(monitor.id, monitor.path);
    const std::optional<PictureWallpaper> kept = desktop_.Kept();
    const bool oursBefore = ShowsOurs(shownNames(), folder);
    const auto showBefore = [&] {
        if (primary != nullptr)
            desktop_.ShowOn(primary->id, primary->path);
        else
            desktop_.Show(before);
    };
    try {
        desktop_.MakeFolder(folder);
        if (!oursBefore)
            desktop_.Keep(before);
    } catch (const AppError& error) {
        throw AppError(error.Number(), error.Description(), Unchanged(page, error.Context()));
    }
    // After a failure: the record as it was (a failure of that is not the one reported).
    const auto undo = [&] {
        try {
            if (!oursBefore && kept)
                desktop_.Keep(*kept);
            else if (!oursBefore)
                desktop_.Forget();
        } catch (const AppError&) {
        }
        if (isNew)
            desktop_.RemoveFile(file);
    };

    PictureWallpaper wanted = kPlacement;
    wanted.path = file.ToUtf16();
    bool asked = false;
    try {
        if (isNew) {
            AtomicFileWriter writer(file, "Cannot write the page's picture " + file.ToUtf8() + ".");
            writer.Write(picture);
            writer.Commit();
        }
        asked = true;
        if (primary != nullptr)
            desktop_.ShowOn(primary->id, wanted.path);
        else
            desktop_.Show(wanted);
    } catch (const AppError& error) {
        try {
            if (asked)
                showBefore();
        } catch (const AppError&) {
            // The refusal is the one reported.
        }
        undo();
        throw AppError(error.Number(), error.Description(), Unchanged(page, error.Context()));
    }
    bool shown = false;
    for (const std::u16string& shownName : shownNames())
        shown = shown || SameWindowsPath(shownName, wanted.path);
    if (!shown) {
        try {
            showBefore();
        } catch (const AppError&) {
            // The read-back is the one reported.
        }
        undo();
        throw AppError(kErrorNotSupported, DescribeSystemError(kErrorNotSupported),
                       Unchanged(page, "Windows took the picture " + file.ToUtf8() +
                                           ", but its wallpaper setting does not name it (a policy or another "
                                           "program may set the wallpaper)."));
    }
    RemoveOlder(folder, name);
}

bool PageWallpaper::Restore()
{
    const FilePath folder = desktop_.PictureFolder();
    const std::optional<PictureWallpaper> kept = desktop_.Kept();
    bool ours = false;
    if (kept && !kept->monitors.empty()) {
        // Each monitor that shows our picture gets its own back; the others show the person's.
        for (const MonitorWallpaper& monitor : desktop_.Monitors()) {
            if (!ShowsOurs({monitor.path}, folder))
                continue;
            ours = true;
            std::u16string back;
            for (const auto& [id, path] : kept->monitors)
                if (id == monitor.id)
                    back = path;
            desktop_.ShowOn(monitor.id, back);
        }
    } else if ((ours = ShowsOurs(desktop_.ShownNames(), folder)) && kept) {
        desktop_.Show(*kept);
    } else if (ours) {
        // Nothing of the person's is known: no wallpaper rather than ours.
        desktop_.Show(PictureWallpaper{});
    }
    if (kept)
        desktop_.Forget();
    if (!folder.Empty())
        RemoveOlder(folder, "");
    return ours;
}

}  // namespace tarnwick
