// The page as a picture wallpaper, where Windows shows only pictures (Vista and later): Run draws
// the page with the page engine at the screen's size, writes the picture into the person's own
// folder (crash-safely, named after its content) and makes it the wallpaper, after keeping the
// person's own wallpaper; Close puts the person's own back where the desktop still shows ours.
// The platform pieces (the engine, the system's wallpaper setting, the kept record) sit behind
// the two interfaces below; everything they decide is decided here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/FilePath.h"

namespace tarnwick {

struct ScreenPixels {
    int width = 0;
    int height = 0;
};

// A picture wallpaper as Windows keeps it: the file (empty: none) and its placement, the texts of
// the values WallpaperStyle and TileWallpaper (empty where the value is not set).
struct PictureWallpaper {
    std::u16string path;
    std::u16string style;
    std::u16string tile;
    // Where the system keeps a picture for each monitor (8 and later): each monitor's device path
    // and its picture.
    std::vector<std::pair<std::u16string, std::u16string>> monitors;
    bool operator==(const PictureWallpaper&) const = default;
};

// One monitor where the system keeps a picture for each: its device path, where it sits on the
// virtual screen (the primary one at 0,0), its size and its picture.
struct MonitorWallpaper {
    std::u16string id;
    int left = 0;
    int top = 0;
    ScreenPixels size;
    std::u16string path;
};

// Draws a page into a picture. Throws AppError when the engine is missing, fails or runs past
// its bound.
class IPageEngine {
public:
    virtual ~IPageEngine() = default;
    // The page, loaded and drawn at size, as the bytes of a 24-bit BMP file.
    virtual std::string DrawPage(const FilePath& page, ScreenPixels size) = 0;
};

// The system's wallpaper and the program's record of the person's own.
class IPictureDesktop {
public:
    virtual ~IPictureDesktop() = default;
    // The size in pixels of the monitor that shows the page (the primary one).
    virtual ScreenPixels ScreenSize() = 0;
    // Why the person's wallpaper cannot be changed (a policy), else nullopt.
    virtual std::optional<std::string> Refusal() = 0;
    virtual PictureWallpaper Current() = 0;
    // Makes the wallpaper the system's; throws AppError when the system refuses it.
    virtual void Show(const PictureWallpaper& wallpaper) = 0;
    // Every name under which the system says it shows its wallpaper now (its answer, and the
    // file its settings name, which may be a converted copy).
    virtual std::vector<std::u16string> ShownNames() = 0;
    // The monitors where the system keeps a picture for each (8 and later); empty where it does not.
    virtual std::vector<MonitorWallpaper> Monitors() = 0;
    // The picture, stretched, on one monitor; throws AppError when the system refuses it.
    virtual void ShowOn(const std::u16string& monitor, const std::u16string& path) = 0;
    // The folder for the pictures (the person's local application data); empty where there is none.
    virtual FilePath PictureFolder() = 0;
    // The files in folder, by name.
    virtual std::vector<std::string> FileNames(const FilePath& folder) = 0;
    virtual void MakeFolder(const FilePath& folder) = 0;  // throws AppError
    virtual void RemoveFile(const FilePath& file) = 0;    // a failure is left: the file is only a leftover
    // The person's own wallpaper, as Run kept it; nullopt where nothing is kept.
    virtual std::optional<PictureWallpaper> Kept() = 0;
    virtual void Keep(const PictureWallpaper& wallpaper) = 0;  // throws AppError
    virtual void Forget() = 0;                                 // throws AppError
};

class PageWallpaper {
public:
    PageWallpaper(IPageEngine& engine, IPictureDesktop& desktop) : engine_(engine), desktop_(desktop) {}

    // Run: the page becomes the wallpaper. On any failure AppError names the page and the
    // person's wallpaper is as it was.
    void Show(const FilePath& page);

    // Close: where the desktop shows our picture, the kept wallpaper goes back; elsewhere the
    // person has chosen another, which stays. The record is forgotten either way. Answers whether
    // the desktop showed our picture.
    bool Restore();

    // "tarnwick-" and the 64-bit FNV-1a hash of the picture's bytes in hex, ".bmp".
    static std::string PictureName(std::string_view bytes);
    static bool IsPictureName(std::string_view name);

private:
    bool ShowsOurs(const std::vector<std::u16string>& names, const FilePath& folder) const;
    void RemoveOlder(const FilePath& folder, const std::string& keep);

    IPageEngine& engine_;
    IPictureDesktop& desktop_;
};

// The two paths name the same file as Windows compares them: ASCII letters without regard to case.
bool SameWindowsPath(std::u16string_view a, std::u16string_view b);

}  // namespace tarnwick
