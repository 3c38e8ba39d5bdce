// The small interfaces behind which each platform (Win32, Linux) offers what the core needs.
#pragma once

#include <cstdint>
#include <string>

#include "base/FilePath.h"

namespace tarnwick {

class IRegistryOps;
class IWallpaperShell;
class IPageEngine;
class IPictureDesktop;

// The fields of the Windows version record that the operating-system name depends on, as the
// system really is.
struct VersionRecord {
    int32_t majorVersion = 0;
    int32_t minorVersion = 0;
    int32_t platformId = 0;
    // The system tells programs another version than its own: the program runs in a
    // compatibility mode ("Windows 95", "Windows XP" ...).
    bool compatibilityMode = false;
};

class IVersionQuery {
public:
    virtual ~IVersionQuery() = default;
    // Fills the record with the running system's real version, which a compatibility mode does
    // not change; false when the system offers no version record.
    virtual bool Query(VersionRecord& record) = 0;
};

class IScreenMetrics {
public:
    virtual ~IScreenMetrics() = default;
    // The screen's size in twips: pixels * 1440 / the display's logical dots per inch.
    virtual float WidthTwips() = 0;
    virtual float HeightTwips() = 0;
    // The display's logical dots per inch, at which the window lays itself out.
    virtual int DotsPerInch() = 0;
};

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // A box modal to the window: the text, the caption, one OK button, no icon.
    virtual void Show(const std::u16string& text, const std::u16string& caption) = 0;
};

class IProgramEnd {
public:
    virtual ~IProgramEnd() = default;
    // Ends the program at once: no further window event runs.
    virtual void EndProgram() = 0;
};

// Where Run reads the template and writes the page; the platform decides.
struct PageFiles {
    FilePath templatePath;  // 1.htm
    FilePath pagePath;      // 2.htm
    // Both in one folder, as the Windows program keeps them beside itself.
    static PageFiles InFolder(const FilePath& folder) { return {folder / "1.htm", folder / "2.htm"}; }
};

// What the window needs of its platform; every reference outlives the window.
struct Platform {
    IVersionQuery& versionQuery;
    IScreenMetrics& screen;
    IRegistryOps& registry;
    IWallpaperShell& wallpaper;
    IMessageBox& messageBox;
    IProgramEnd& programEnd;
    PageFiles pages;
    // Where Windows shows only pictures (Vista and later): the engine that draws the page and the
    // system's picture wallpaper; null where the platform has none.
    IPageEngine* pageEngine = nullptr;
    IPictureDesktop* pictureDesktop = nullptr;
};

}  // namespace tarnwick
