// The Linux Active Desktop through the wallpaper routine, with a drawing engine and desktops
// that record what they are given.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/AppError.h"
#include "desktop/LinuxDesktop.h"
#include "desktop/StandaloneDesktop.h"
#include "registry/StandaloneRegistry.h"

namespace tarnwick {
namespace {

// Draws a page as "PNG <size> <the page's bytes>", so every picture names its page and size.
class FakeDrawer : public IPageDrawer {
public:
    PixelSize ScreenSize() override { return size; }
    std::string DrawPage(const FilePath& page, PixelSize at) override
    {
        pages.push_back(page.Native());
        if (fail)
            throw AppError(110, "Connection timed out", "The page could not be drawn: it did not finish loading.");
        return Picture(at) + test::ReadBytes(page.Native());
    }
    // The pixels come once the page is drawn, before its picture.
    std::string DrawPageWithPixels(const FilePath& page, PixelSize at, const PixelsReady& pixelsReady) override
    {
        std::string png = DrawPage(page, at);
        const uint32_t pixel = 0xff000000;
        if (pixelsReady)
            pixelsReady(PicturePixels{1, 1, 4, &pixel, -1});
        return png;
    }
    std::string PlainPicture(PixelSize at) override { return Picture(at) + "plain"; }

    static std::string Picture(PixelSize at)
    {
        return "PNG " + std::to_string(at.width) + "x" + std::to_string(at.height) + " ";
    }

    PixelSize size{1024, 768};
    bool fail = false;
    std::vector<std::string> pages;
};

// Each picture it is handed, as "<name> <bytes read when handed>"; a plain one marked so.
// The desktop shows one thing at a time (own: a picture's path, or the person's own as text),
// which Shows reads and Restore puts back (recorded as "restore <it>"). With early, pixels made
// ready are shown at once ("early"); unless ShowPicture follows, what was shown before is shown
// again as it goes.
class FakeBackground : public IDesktopBackground {
public:
    FakeBackground(std::vector<std::string>& shown, bool& fail, std::string name, std::string& own,
                   std::function<void()> showing, bool early)
        : shown_(shown), fail_(fail), name_(std::move(name)), own_(own), showing_(std::move(showing)), early_(early)
    {
    }
    ~FakeBackground() override
    {
        if (pending_) {
            shown_.push_back(before_);
            own_ = ownBefore_;
        }
    }
    std::string Name() const override { return name_; }
    void PreparePicture(const PicturePixels&) override { prepared_ = true; }
    bool ShowPrepared() override
    {
        if (!early_ || !prepared_ || fail_)
            return false;
        before_ = shown_.empty() ? "" : shown_.back();
        ownBefore_ = own_;
        shown_.push_back("early");
        pending_ = true;
        return true;
    }
    void ShowPicture(const FilePath& picture) override
    {
        pending_ = false;
        Show("picture ", picture);
    }
    void ShowPlain(const FilePath& picture) override { Show("plain ", picture); }
    DesktopShows Shows(const IOurPictures& ours) override
    {
        if (own_.empty())
            return {};  // a desktop that cannot be read, as the root window of some servers
        return {ours.Holds(FilePath(own_)) ? DesktopShows::Whose::ours : DesktopShows::Whose::theirs, own_};
    }
    void Restore(const std::string& saved, const FilePath& plain, const IOurPictures&) override
    {
        if (fail_)
            throw AppError(5, "Input/output error", "The desktop refused the picture.");
        if (saved.empty())
            return ShowPlain(plain);
        shown_.push_back("restore " + saved);
        own_ = saved;
    }

private:
    void Show(const std::string& kind, const FilePath& picture)
    {
        if (fail_)
            throw AppError(5, "Input/output error", "The desktop refused the picture.");
        if (showing_)
            showing_();
        shown_.push_back(kind + std::filesystem::path(picture.Native()).filename().string() + " " +
                         test::ReadBytes(picture.Native()));
        if (!own_.empty())
            own_ = picture.Native();
    }
    std::vector<std::string>& shown_;
    bool& fail_;
    std::string name_;
    std::string& own_;
    std::function<void()> showing_;
    bool early_;
    bool prepared_ = false, pending_ = false;
    std::string before_, ownBefore_;
};

struct Desk {
    Desk() : store(folder / "registry.reg"), registry(store), pictures(folder / "data" / "tarnwick")
    {
        std::filesystem::create_directories(folder / "program");
        test::WriteBytes(folder / "program" / "2.htm", "<p>first page</p>");
    }

    LinuxDesktop Make()
    {
        auto open = [this](bool there, const char* name) -> std::unique_ptr<IDesktopBackground> {
            opened.push_back(name);
            return there ? std::make_unique<FakeBackground>(shown, failShow, name, own, showing, early) : nullptr;
        };
        BackgroundOpeners openers;
        openers.portal = [this, open] { return open(portal, "portal"); };
        openers.xfconf = [this, open] { return open(true, "xfconf"); };
        openers.mate = [this, open] { return open(true, "mate"); };
        openers.rootWindow = [this, open] { return open(rootWindow, "root window"); };
        DesktopSense sense{[this] { return decision; },
                           [this](const std::string& name) { return Recorded(name.c_str()); }};
        return LinuxDesktop(registry, drawer, std::move(openers), std::move(sense), FilePath(pictures.string()));
    }

    void Set(const std::filesystem::path& page)
    {
        LinuxDesktop desktop = Make();
        SetWallpaper(desktop, FilePath(page.string()).ToUtf16(), kWallpaperStyleStretch);
    }

    std::optional<std::string> Recorded(const char* name)
    {
        auto value = store.QueryValue(HKEY_CURRENT_USER_VALUE, kDesktopKey, name);
        return value ? std::optional(std::string(value->data.begin(), value->data.end() - 1)) : std::nullopt;
    }

    std::string Shown(const std::string& kind, const std::string& bytes) const
    {
        return kind + " " + LinuxDesktop::PictureName(bytes) + " " + bytes;
    }

    test::TempFolder folder;
    StandaloneRegistry store;
    test::RecordingRegistry registry;
    std::filesystem::path pictures;
    FakeDrawer drawer;
    bool portal = false, rootWindow = true, failShow = false, early = false;
    DesktopDecision decision{DesktopRoad::rootWindow, "twm"};
    std::string own;  // what the desktop shows: empty, as a desktop that cannot tell
    std::function<void()> showing;  // called as a picture is shown
    std::vector<std::string> opened, shown;
};

TEST(LinuxDesktop, RunDrawsThePageAtTheScreensSizeShowsItRecordsItAndCloseShowsAPlainPicture)
{
    Desk desk;
    const std::filesystem::path page = desk.folder / "program" / "2.htm";
    const mode_t umaskBefore = umask(022);
    desk.Set(page);
    umask(umaskBefore);
    // Drawn from the page's own path at the screen's size; the picture written whole before the
    // desktop took it, under the name of its content, in a folder made for it, the user's alone.
    struct stat folderInfo {};
    ASSERT_EQ(stat(desk.pictures.c_str(), &folderInfo), 0);
    EXPECT_EQ(folderInfo.st_mode & 0777, 0700u);
    const std::string first = FakeDrawer::Picture({1024, 768}) + "<p>first page</p>";
    EXPECT_EQ(desk.drawer.pages, std::vector<std::string>{page.string()});
    EXPECT_EQ(desk.opened, (std::vector<std::string>{"root window"}));
    EXPECT_EQ(desk.shown, std::vector<std::string>{desk.Shown("picture", first)});
    EXPECT_EQ(test::FolderEntries(desk.pictures), (std::vector<std::string>{LinuxDesktop::PictureName(first)}));
    EXPECT_EQ(desk.Recorded(kWallpaperValue), page.string());
    EXPECT_EQ(desk.Recorded(kWallpaperStyleValue), "2");

    // Another page on a larger screen, through the portal now: a new name, so a desktop that
    // keeps pictures by name shows it; the older picture is gone once it was taken.
    test::WriteBytes(page, "<p>second page</p>");
    desk.drawer.size = {1600, 1200};
    desk.portal = true;
    desk.decision.road = DesktopRoad::portal;
    desk.opened.clear();
    desk.Set(page);
    const std::string second = FakeDrawer::Picture({1600, 1200}) + "<p>second page</p>";
    EXPECT_EQ(desk.opened, std::vector<std::string>{"portal"});
    EXPECT_EQ(desk.shown.back(), desk.Shown("picture", second));
    EXPECT_EQ(test::FolderEntries(desk.pictures), (std::vector<std::string>{LinuxDesktop::PictureName(second)}));

    // The same page again: the same file, left as it is.
    desk.Set(page);
    EXPECT_EQ(desk.shown.back(), desk.Shown("picture", second));
    EXPECT_EQ(test::FolderEntries(desk.pictures), (std::vector<std::string>{LinuxDesktop::PictureName(second)}));

    // Close: a plain picture at the screen's size, the page's picture removed, the record empty.
    desk.Set("");
    const std::string plain = FakeDrawer::Picture({1600, 1200}) + "plain";
    EXPECT_EQ(desk.shown.back(), desk.Shown("plain", plain));
    EXPECT_EQ(test::FolderEntries(desk.pictures), (std::vector<std::string>{LinuxDesktop::PictureName(plain)}));
    EXPECT_EQ(desk.Recorded(kWallpaperValue), "");
    EXPECT_EQ(desk.drawer.pages.size(), 3u);

    // Without the refresh flag nothing is drawn or shown; the save flag alone keeps the record.
    LinuxDesktop desktop = desk.Make();
    auto object = desktop.CreateActiveDesktop();
    ASSERT_EQ(object->SetWallpaper(FilePath(page.string()).ToUtf16(), 0), 0);
    EXPECT_EQ(object->ApplyChanges(kApplySave), 0);
    EXPECT_EQ(desk.Recorded(kWallpaperValue), page.string());
    EXPECT_EQ(desk.drawer.pages.size(), 3u);
    EXPECT_EQ(desk.shown.size(), 4u);
}

TEST(LinuxDesktop, AFolderTheStoreCannotSpellStillShowsThePageAndRecordsNoFalsePath)
{
    Desk desk;
    desk.Set(desk.folder / "program" / "2.htm");
    for (const std::string name : {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC", "caf\xE9"}) {
        const std::filesystem::path page = desk.folder / name / "2.htm";
        std::filesystem::create_directories(page.parent_path());
        test::WriteBytes(page, "<p>" + name + "</p>");
        desk.Set(page);
        EXPECT_EQ(desk.drawer.pages.back(), page.string());  // the folder's exact bytes
        EXPECT_EQ(desk.shown.back(), desk.Shown("picture", FakeDrawer::Picture({1024, 768}) + "<p>" + name + "</p>"));
        EXPECT_EQ(desk.Recorded(kWallpaperValue), std::nullopt);
        EXPECT_EQ(desk.Recorded(kWallpaperStyleValue), "2");
    }
}

// After one good Run, each failure is reported as an AppError naming it, and the desktop, the
// picture and the record are as the good Run left them, with no file left over.
TEST(LinuxDesktop, EveryFailureIsReportedAndChangesNothing)
{
    Desk desk;
    const std::filesystem::path page = desk.folder / "program" / "2.htm";
    desk.Set(page);
    // A picture a killed run left, older than the one shown: the one shown is what goes back.
    const std::filesystem::path leftover = desk.pictures / "tarnwick-0000000000000001.png";
    test::WriteBytes(leftover, "PNG leftover");
    std::filesystem::last_write_time(leftover, std::filesystem::last_write_time(leftover) - std::chrono::hours(24));
    const std::vector<std::string> pictures = test::FolderEntries(desk.pictures);
    const std::string store = test::ReadBytes(desk.folder / "registry.reg");
    test::WriteBytes(page, "<p>a page that must not be shown</p>");
    rlimit fileLimit{};
    getrlimit(RLIMIT_FSIZE, &fileLimit);

    struct Failure {
        const char* what;
        std::function<void()> arrange;
        std::string report;
        std::function<void()> undo;
    };
    const std::vector<Failure> failures = {
        {"the page does not load", [&] { desk.drawer.fail = true; }, "it did not finish loading",
         [&] { desk.drawer.fail = false; }},
        {"the desktop refuses", [&] { desk.failShow = true; }, "The desktop refused the picture.",
         [&] { desk.failShow = false; }},
        // The picture it refuses is the one it shows (and may still read): it stays.
        {"the desktop refuses the picture it shows",
         [&] { desk.failShow = true; test::WriteBytes(page, "<p>first page</p>"); }, "The desktop refused the picture.",
         [&] { desk.failShow = false; test::WriteBytes(page, "<p>a page that must not be shown</p>"); }},
        // A full disk, as it is to root too: no file may grow past a few bytes.
        {"the picture cannot be written",
         [&] {
             std::signal(SIGXFSZ, SIG_IGN);
             rlimit small{16, fileLimit.rlim_max};
             setrlimit(RLIMIT_FSIZE, &small);
         },
         "Cannot write the desktop picture " + desk.pictures.string() + "/tarnwick-",
         [&] { setrlimit(RLIMIT_FSIZE, &fileLimit); }},
        {"the record cannot be written", [&] { desk.registry.failCall = "RegSetValueExA"; },
         "IActiveDesktop::ApplyChanges failed", [&] { desk.registry.failCall.clear(); }},
        {"the store cannot be read", [&] { test::WriteBytes(desk.folder / "registry.reg", "not a store"); },
         "IActiveDesktop::ApplyChanges failed", [&] { test::WriteBytes(desk.folder / "registry.reg", store); }},
    };
    // Each failure twice: on a road that shows the picture once it is written, and on one that
    // shows its pixels at once and puts back what it showed.
    for (const Failure& failure : failures) for (const bool early : {false, true}) {
        SCOPED_TRACE(std::string(failure.what) + (early ? ", shown early" : ""));
        desk.early = early;
        failure.arrange();
        const size_t shownBefore = desk.shown.size();
        const std::string storeNow = test::ReadBytes(desk.folder / "registry.reg");
        try {
            desk.Set(page);
            ADD_FAILURE() << "no failure reported";
        } catch (const AppError& error) {
            EXPECT_NE(error.Report().find(failure.report), std::string::npos) << error.Report();
            EXPECT_NE(error.Number(), 0u);
        }
        // What the desktop was handed after the failure: nothing, or our older picture again.
        if (desk.shown.size() > shownBefore) {
            EXPECT_EQ(desk.shown.back(), desk.shown[0]);
        }
        EXPECT_EQ(test::FolderEntries(desk.pictures), pictures);
        EXPECT_EQ(test::ReadBytes(desk.folder / "registry.reg"), storeNow);
        failure.undo();
    }
    EXPECT_EQ(test::ReadBytes(desk.folder / "registry.reg"), store);

    // Shown early, it stays once the record names the new page.
    desk.early = true;
    const std::filesystem::path other = desk.folder / "program" / "3.htm";
    test::WriteBytes(other, "<p>shown early</p>");
    std::optional<std::string> recordedWhenKept;
    desk.showing = [&] { recordedWhenKept = desk.Recorded(kWallpaperValue); };
    desk.Set(other);
    const std::string early = FakeDrawer::Picture({1024, 768}) + "<p>shown early</p>";
    EXPECT_EQ(std::vector(desk.shown.end() - 2, desk.shown.end()),
              (std::vector<std::string>{"early", desk.Shown("picture", early)}));
    EXPECT_EQ(recordedWhenKept, other.string());
    EXPECT_EQ(test::FolderEntries(desk.pictures), (std::vector<std::string>{LinuxDesktop::PictureName(early)}));
    desk.showing = nullptr;

    // The store is read before anything is drawn.
    test::WriteBytes(desk.folder / "registry.reg", "not a store");
    const size_t drawn = desk.drawer.pages.size();
    EXPECT_THROW(desk.Set(page), AppError);
    EXPECT_EQ(desk.drawer.pages.size(), drawn);
}

// Close takes away only what is ours: it gives back what the person had where the desktop still
// shows our picture, and leaves whatever else it shows. Run keeps what the desktop shows before
// it shows the page, never one of our own pictures; a record that fails puts back what this Run
// found. What is kept belongs to the desktop, whatever road reaches it, and a Run on one desktop
// leaves the picture another one still names.
TEST(LinuxDesktop, CloseTakesAwayOnlyWhatIsOursAndGivesBackWhatThePersonHad)
{
    Desk desk;
    const std::filesystem::path page = desk.folder / "program" / "2.htm";
    const std::string picture = FakeDrawer::Picture({1024, 768}) + "<p>first page</p>";
    const std::string ourPath = (desk.pictures / LinuxDesktop::PictureName(picture)).string();
    const auto kept = [&] { return desk.Recorded(kKeptDesktopsValue).value_or("(none)"); };
    desk.decision = {DesktopRoad::xfconf, "XFCE"};
    desk.own = "/usr/share/\"shapes\" 100%; a b.svg";

    // Close with no Run before it: nothing changes, nothing is written, nothing said.
    desk.Set("");
    EXPECT_TRUE(desk.shown.empty());
    EXPECT_EQ(desk.own, "/usr/share/\"shapes\" 100%; a b.svg");
    EXPECT_EQ(test::FolderEntries(desk.pictures), std::vector<std::string>{});

    // Run keeps the person's own in the store before the page is shown.
    std::string keptAtShow;
    desk.showing = [&] { keptAtShow = kept(); };
    desk.Set(page);
    EXPECT_NE(keptAtShow.find("XFCE xfconf tarnwick-"), std::string::npos) << keptAtShow;
    EXPECT_NE(keptAtShow.find(LinuxDesktop::EncodeSaved("/usr/share/") + "%22shapes%22%20100%25%3B%20a%20b.svg"),
              std::string::npos)
        << keptAtShow;
    EXPECT_EQ(desk.own, ourPath);
    // The person picks another: Close leaves it and forgets what it kept.
    desk.own = "/home/me/mine.png";
    const size_t shown = desk.shown.size();
    desk.Set("");
    EXPECT_EQ(desk.shown.size(), shown);
    EXPECT_EQ(desk.own, "/home/me/mine.png");
    EXPECT_EQ(kept(), "(none)");
    EXPECT_EQ(desk.Recorded(kWallpaperValue), "");

    // Run, the person's change, Run, Run: the second Run keeps the change, the third keeps it
    // too (the desktop shows ours); Close gives the change back.
    desk.Set(page);
    desk.own = "/home/me/other.png";
    desk.Set(page);
    desk.Set(page);
    desk.Set("");
    EXPECT_EQ(desk.shown.back(), "restore /home/me/other.png");
    EXPECT_EQ(kept(), "(none)");

    // Run, Close, a record that cannot be written, Run: the desktop shows the person's own, as
    // before this Run, and the store is as it was.
    desk.Set(page);
    desk.Set("");
    const std::string store = test::ReadBytes(desk.folder / "registry.reg");
    desk.registry.failCall = std::string("RegSetValueExA ") + kWallpaperValue;
    EXPECT_THROW(desk.Set(page), AppError);
    desk.registry.failCall.clear();
    EXPECT_EQ(desk.own, "/home/me/other.png");
    EXPECT_EQ(desk.shown.back(), "restore /home/me/other.png");
    EXPECT_EQ(test::ReadBytes(desk.folder / "registry.reg"), store);

    // A Run on another desktop leaves the picture XFCE shows; the same desktop through another
    // road gets the plain picture, as the bytes kept by one road mean nothing to another.
    desk.Set(page);
    test::WriteBytes(page, "<p>MATE's page</p>");
    desk.decision = {DesktopRoad::mate, "MATE"};
    desk.Set(page);
    EXPECT_TRUE(std::filesystem::exists(ourPath));
    desk.Set("");
    EXPECT_TRUE(std::filesystem::exists(ourPath));
    EXPECT_EQ(desk.shown.back().substr(0, 6), "plain ");  // MATE showed XFCE's picture: ours
    desk.decision = {DesktopRoad::rootWindow, "XFCE"};
    desk.own = ourPath;
    desk.Set("");
    EXPECT_EQ(desk.shown.back().substr(0, 6), "plain ");
    EXPECT_EQ(kept(), "(none)");
    EXPECT_FALSE(std::filesystem::exists(ourPath));

    // A desktop that cannot be read: Close acts only after a Run on it.
    desk.own.clear();
    desk.decision = {DesktopRoad::portal, "GNOME"};
    desk.portal = true;
    const size_t before = desk.shown.size();
    desk.Set("");
    EXPECT_EQ(desk.shown.size(), before);
    desk.Set(page);
    desk.Set("");
    EXPECT_EQ(desk.shown.back().substr(0, 6), "plain ");

    // What an earlier version kept (one road's state) is this desktop's.
    desk.Set(page);
    RegKey key = 0;
    ASSERT_EQ(desk.store.RegCreateKeyExA(HKEY_CURRENT_USER_VALUE, kDesktopKey, 0, nullptr, 0, kKeyAccess, nullptr,
                                         &key, nullptr),
              0);
    for (const auto& [name, text] : {std::pair{kSavedRoadValue, std::string("portal")},
                                     std::pair{kSavedDesktopValue, LinuxDesktop::EncodeSaved("/old/own.png")}})
        desk.store.RegSetValueExA(key, name, 0, kRegSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                                  static_cast<uint32_t>(text.size() + 1));
    desk.store.RegDeleteValueA(key, kKeptDesktopsValue);
    desk.store.RegCloseKey(key);
    desk.Set("");
    EXPECT_EQ(desk.shown.back(), "restore /old/own.png");
    EXPECT_EQ(desk.Recorded(kSavedRoadValue), std::nullopt);

}

// Two panels at once: the second changes the desktop only once the first has kept, shown and
// recorded; what each keeps is its own desktop's.
TEST(LinuxDesktop, ASecondPanelWaitsUntilTheFirstHasRecorded)
{
    Desk first, second;
    second.pictures = first.pictures;
    const std::filesystem::path page = first.folder / "program" / "2.htm";
    first.own = second.own = "/home/me/mine.png";
    std::atomic<bool> secondShowing = false, secondShowedDuringFirst = false;
    second.showing = [&] { secondShowing = true; };
    std::thread other;
    first.showing = [&] {
        first.showing = nullptr;
        other = std::thread([&] { second.Set(second.folder / "program" / "2.htm"); });
        for (int i = 0; i < 30 && !secondShowing; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        secondShowedDuringFirst = secondShowing.load();
    };
    first.Set(page);
    other.join();
    EXPECT_FALSE(secondShowedDuringFirst);
    EXPECT_TRUE(secondShowing);
    for (Desk* desk : {&first, &second}) {
        desk->Set("");
        EXPECT_EQ(desk->shown.back(), "restore /home/me/mine.png");
    }
}

// No road: reported with the desktop's name and the picture's full path; nothing else.
TEST(LinuxDesktop, ADesktopNoRoadReachesIsReportedAndNothingChanges)
{
    Desk desk;
    const std::filesystem::path page = desk.folder / "program" / "2.htm";
    desk.Set(page);
    const std::string store = test::ReadBytes(desk.folder / "registry.reg");
    const size_t shown = desk.shown.size();
    DesktopFacts hyprland;
    hyprland.currentDesktops = {"Hyprland"};
    hyprland.waylandDisplay = true;
    for (const DesktopDecision& decision : {DecideDesktopRoad(hyprland), DesktopDecision{DesktopRoad::portal, "GNOME"},
                                            DesktopDecision{DesktopRoad::sway, "sway"}}) {
        desk.decision = decision;
        desk.portal = false;
        try {
            desk.Set(page);
            ADD_FAILURE() << "no failure reported";
        } catch (const AppError& error) {
            const std::string picture = (desk.pictures / LinuxDesktop::PictureName(
                                                             FakeDrawer::Picture({1024, 768}) + "<p>first page</p>"))
                                            .string();
            EXPECT_NE(error.Report().find("(" + decision.desktop + ")"), std::string::npos) << error.Report();
            EXPECT_NE(error.Report().find("The page's picture is " + picture + ":"), std::string::npos);
            EXPECT_EQ(test::ReadBytes(picture), FakeDrawer::Picture({1024, 768}) + "<p>first page</p>");
            if (decision.desktop == "Hyprland") {
                EXPECT_NE(error.Report().find("own tool: `hyprctl hyprpaper preload " + picture +
                                              " && hyprctl hyprpaper wallpaper ," + picture + "`."),
                          std::string::npos)
                    << error.Report();
            }
        }
    }
    EXPECT_EQ(desk.shown.size(), shown);
    EXPECT_EQ(test::ReadBytes(desk.folder / "registry.reg"), store);
    EXPECT_EQ(LinuxDesktop::DecodeSaved("%4"), std::nullopt);
    EXPECT_EQ(LinuxDesktop::DecodeSaved("%zz"), std::nullopt);
}

// What a Run that was ended while writing left behind goes with the next Run; a running
// process's file, a link and another program's file stay.
TEST(LinuxDesktop, ARunEndedWhileWritingLeavesNothingBehind)
{
    Desk desk;
    std::filesystem::create_directories(desk.pictures);
    const std::string name = "tarnwick-0123456789abcdef.png";
    const auto at = [&](const std::string& file) { return desk.pictures / file; };
    test::WriteBytes(at(name + ".2147483646.tmp"), "half");
    test::WriteBytes(at(name + ".2147483645.2.tmp"), "half");
    test::WriteBytes(at(name + ".1.tmp"), "running");
    test::WriteBytes(at("other-0123456789abcdef.png.2147483646.tmp"), "not ours");
    std::filesystem::create_symlink(at(name + ".1.tmp"), at("tarnwick-fedcba9876543210.png.2147483646.tmp"));
    desk.Set(desk.folder / "program" / "2.htm");
    EXPECT_FALSE(std::filesystem::exists(at(name + ".2147483646.tmp")));
    EXPECT_FALSE(std::filesystem::exists(at(name + ".2147483645.2.tmp")));
    EXPECT_TRUE(std::filesystem::exists(at(name + ".1.tmp")));
    EXPECT_TRUE(std::filesystem::exists(at("other-0123456789abcdef.png.2147483646.tmp")));
    EXPECT_TRUE(std::filesystem::is_symlink(at("tarnwick-fedcba9876543210.png.2147483646.tmp")));
}

// The road follows what runs, never what answers first; unknown desktops over the root report.
TEST(DesktopKind, TheRunningDesktopDecidesTheRoad)
{
    struct Row {
        std::string desktops;  // XDG_CURRENT_DESKTOP
        std::string session, windowClass;
        bool x11, wayland, ownPortal;
        DesktopRoad road;
        std::string name;
        std::string windowManager = "twm";
        bool swaySocket = false, windowManagerPortal = false;
    };
    using enum DesktopRoad;
    const std::vector<Row> rows = {
        {"ubuntu:GNOME", "x11", "", true, false, true, portal, "ubuntu:GNOME"},
        {"GNOME", "wayland", "", false, true, false, portal, "GNOME"},
        {"Unity:Unity7:ubuntu", "", "", true, false, false, portal, "Unity:Unity7:ubuntu"},
        {"Budgie:GNOME", "x11", "", true, false, false, portal, "Budgie:GNOME", "Mutter(Budgie)"},
        {"KDE", "x11", "plasmashell", true, false, false, plasma, "KDE"},
        {"KDE", "wayland", "", false, true, false, plasma, "KDE"},
        {"KDE", "wayland", "", true, true, true, portal, "KDE"},
        {"XFCE", "", "Xfdesktop", true, false, false, xfconf, "XFCE"},
        {"", "", "Xfdesktop", true, false, false, xfconf, "Xfdesktop"},
        {"LXDE", "", "Pcmanfm", true, false, false, pcmanfm, "LXDE"},
        {"LXQt", "", "", true, false, false, pcmanfm, "LXQt"},
        {"MATE", "x11", "Caja", true, false, false, mate, "MATE"},
        {"X-Cinnamon", "x11", "Nemo-desktop", true, false, false, cinnamon, "X-Cinnamon"},
        // A desktop window says more than the name: pcmanfm drawing the desktop of an "XFCE" session.
        {"XFCE", "", "pcmanfm", true, false, false, pcmanfm, "XFCE"},
        {"", "", "", true, false, false, rootWindow, "twm"},
        {"i3", "x11", "", true, false, false, rootWindow, "i3"},
        {"", "", "Conky", true, false, false, none, "a desktop window of class Conky"},
        {"Foo", "", "", true, false, false, none, "Foo (a desktop window of unknown kind)"},
        // sway by its socket, in a Wayland session only; an X11 program's desktop window on its
        // Xwayland is not what the person sees.
        {"sway", "wayland", "Xfdesktop", true, true, false, sway, "sway", "", true},
        {"", "", "", true, true, false, sway, "sway", "", true},
        {"sway", "x11", "", true, false, false, rootWindow, "sway", "", true},
        {"sway", "wayland", "", true, true, false, none, "sway"},
        {"", "wayland", "Pcmanfm", true, true, false, none, "twm"},
        {"Hyprland", "wayland", "", true, true, false, none, "Hyprland"},
        {"COSMIC", "wayland", "", false, true, false, none, "COSMIC"},
        {"", "wayland", "", false, false, false, none, "twm"},
        {"", "", "", false, false, false, none, "no graphical display"},
        // Without the variable, a window manager that draws the background itself is never
        // painted over on the root window: its desktop's portal, its own road, or the report.
        {"", "x11", "", true, false, false, none, "GNOME Shell", "GNOME Shell"},
        {"", "x11", "", true, false, false, portal, "GNOME Shell", "GNOME Shell", false, true},
        {"", "", "", true, false, false, none, "Mutter", "Mutter"},
        {"", "", "", true, false, false, none, "Gala", "Gala"},
        {"", "", "", true, false, false, none, "Mutter(Budgie)", "Mutter(Budgie)"},
        {"", "", "", true, false, false, portal, "Mutter(Budgie)", "Mutter(Budgie)", false, true},
        {"", "", "", true, false, false, cinnamon, "Mutter (Muffin)", "Mutter (Muffin)"},
        {"", "", "", true, false, false, none, "Enlightenment", "Enlightenment"},
        {"", "", "", true, false, false, rootWindow, "Openbox", "Openbox", false, true},
    };
    for (const Row& row : rows) {
        DesktopFacts facts;
        facts.currentDesktops = SplitCurrentDesktops(row.desktops);
        facts.sessionType = row.session;
        facts.waylandDisplay = row.wayland;
        facts.x11 = row.x11;
        facts.desktopWindow = !row.windowClass.empty() || row.name.find("unknown") != std::string::npos;
        facts.desktopWindowClass = row.windowClass;
        facts.windowManager = row.windowManager;
        facts.ownPortalWallpaper = row.ownPortal;
        facts.swaySocket = row.swaySocket;
        facts.windowManagerPortalWallpaper = row.windowManagerPortal;
        const DesktopDecision decision = DecideDesktopRoad(facts);
        EXPECT_EQ(RoadName(decision.road), RoadName(row.road)) << row.name;
        EXPECT_EQ(decision.desktop, row.name);
    }
    EXPECT_EQ(SplitCurrentDesktops("Unity:Unity7::ubuntu"), (std::vector<std::string>{"Unity", "Unity7", "ubuntu"}));
}

TEST(LinuxDesktop, ThePictureFolderIsTheUsersDataFolder)
{
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::optional<std::string> savedData = data ? std::optional<std::string>(data) : std::nullopt;
    const std::optional<std::string> savedHome = home ? std::optional<std::string>(home) : std::nullopt;
    setenv("XDG_DATA_HOME", "/x/data", 1);
    setenv("HOME", "/h", 1);
    EXPECT_EQ(LinuxDesktop::DefaultPictureFolder().Native(), "/x/data/tarnwick");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the base directory rules say
    EXPECT_EQ(LinuxDesktop::DefaultPictureFolder().Native(), "/h/.local/share/tarnwick");
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    EXPECT_TRUE(LinuxDesktop::DefaultPictureFolder().Empty());
    savedData ? setenv("XDG_DATA_HOME", savedData->c_str(), 1) : unsetenv("XDG_DATA_HOME");
    savedHome ? setenv("HOME", savedHome->c_str(), 1) : unsetenv("HOME");

    // FNV-1a 64 of "a" is af63dc4c8601ec8c.
    EXPECT_EQ(LinuxDesktop::PictureName("a"), "tarnwick-af63dc4c8601ec8c.png");
}

}  // namespace
}  // namespace tarnwick

#endif  // _WIN32
