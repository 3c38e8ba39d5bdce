// The page as a picture wallpaper where the system does what Wine does not: it takes the picture
// but its setting (or the primary monitor's picture) names another, and it refuses to keep the
// person's wallpaper.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/AppError.h"
#include "desktop/PageWallpaper.h"

namespace tarnwick {
namespace {

class Engine : public IPageEngine {
public:
    std::string DrawPage(const FilePath&, ScreenPixels size) override { return "BM" + std::to_string(size.width); }
};

// One system wallpaper and the record, in memory; the pictures in a real folder.
class Desktop : public IPictureDesktop {
public:
    explicit Desktop(const test::TempFolder& folder) : folder_(FilePath(folder.Path())) {}
    ScreenPixels ScreenSize() override { return {1024, 768}; }
    std::optional<std::string> Refusal() override { return std::nullopt; }
    PictureWallpaper Current() override { return shown; }
    void Show(const PictureWallpaper& wallpaper) override { shown = wallpaper; }
    std::vector<std::u16string> ShownNames() override { return {keepsShowing ? person.path : shown.path}; }
    std::vector<MonitorWallpaper> Monitors() override
    {
        if (!twoMonitors)
            return {};
        return {{u"side", -1280, 0, {1280, 1024}, u"C:\\side.bmp"},
                {u"main", 0, 0, {1024, 768}, keepsShowing ? person.path : shown.path}};
    }
    void ShowOn(const std::u16string& monitor, const std::u16string& path) override
    {
        EXPECT_EQ(monitor, u"main");
        shown.path = path;
    }
    FilePath PictureFolder() override { return folder_; }
    std::vector<std::string> FileNames(const FilePath& folder) override
    {
        return test::FolderEntries(std::filesystem::path(folder.Native()));
    }
    void MakeFolder(const FilePath&) override {}
    void RemoveFile(const FilePath& file) override { std::filesystem::remove(std::filesystem::path(file.Native())); }
    std::optional<PictureWallpaper> Kept() override { return kept; }
    void Keep(const PictureWallpaper& wallpaper) override
    {
        if (refuseKeep)
            throw AppError(5, "Access is denied", "the person's wallpaper cannot be kept.");
        kept = wallpaper;
    }
    void Forget() override { kept.reset(); }

    const PictureWallpaper person{u"C:\\holiday.bmp", u"0", u"1", {}};
    PictureWallpaper shown = person;
    std::optional<PictureWallpaper> kept;
    bool keepsShowing = false;  // the setting goes on naming the person's wallpaper
    bool refuseKeep = false;
    bool twoMonitors = false;

private:
    FilePath folder_;
};

TEST(PageWallpaper, WhatTheSystemDoesNotShowOrCannotKeepLeavesThePersonsWallpaper)
{
    test::TempFolder folder;
    Engine engine;
    for (const int road : {0, 1, 2}) {
        const bool readBack = road != 1;
        Desktop desktop(folder);
        desktop.keepsShowing = readBack;
        desktop.refuseKeep = !readBack;
        desktop.twoMonitors = road == 2;
        try {
            PageWallpaper(engine, desktop).Show(FilePath("page.htm"));
            FAIL() << "Run did not report";
        } catch (const AppError& error) {
            EXPECT_NE(error.Context().find("The page was written to page.htm, but it did not become the desktop "
                                           "wallpaper: "),
                      std::string::npos);
            EXPECT_NE(error.Context().find(readBack ? "does not name it" : "cannot be kept"), std::string::npos)
                << error.Context();
        }
        EXPECT_EQ(desktop.shown, desktop.person);
        EXPECT_FALSE(desktop.kept);
        EXPECT_TRUE(test::FolderEntries(folder.Path()).empty());
    }
}

}  // namespace
}  // namespace tarnwick
