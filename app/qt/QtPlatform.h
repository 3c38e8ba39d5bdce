// The Linux platform behind frmMain: Qt for the screen and the message box, the stand-alone
// registry and desktop for the wallpaper record.
#pragma once

#include <filesystem>

#include "app/Platform.h"
#include "desktop/WallpaperShell.h"

class QWidget;

namespace tarnwick {

// There is no Windows version record here, so the system's name is "NONE".
class QtVersionQuery : public IVersionQuery {
public:
    bool Query(VersionRecord& record) override;
};

// The primary screen in twips at its logical dots per inch. Throws AppError without a screen.
class QtScreenMetrics : public IScreenMetrics {
public:
    float WidthTwips() override;
    float HeightTwips() override;
    int DotsPerInch() override;
};

// A modal QMessageBox over the window given to SetParent (none before that).
class QtMessageBox : public IMessageBox {
public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Show(const std::u16string& text, const std::u16string& caption) override;

private:
    QWidget* parent_ = nullptr;
};

// Flushes the output streams and ends the process with status 0.
class QtProgramEnd : public IProgramEnd {
public:
    [[noreturn]] void EndProgram() override;
};

// The wallpaper shell as the window uses it: while the changes are applied (a page drawn, the
// desktop answering: a second or more, in nested event loops that keep the window painted) the
// busy cursor shows, and the window takes no clicks or close requests.
class BusyWallpaperShell : public IWallpaperShell {
public:
    explicit BusyWallpaperShell(IWallpaperShell& inner) : inner_(inner) {}
    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override;
    std::string DescribeStatus(int32_t hr) override { return inner_.DescribeStatus(hr); }

    // Whether changes are being applied now.
    static bool Busy();

private:
    IWallpaperShell& inner_;
};

// The folder of the running executable. Throws AppError when it cannot be found.
FilePath RunningProgramFolder();

// Where Run reads the template and writes the page. The template is 1.htm beside the program
// (a portable folder); else the user's own in the config folder ($XDG_CONFIG_HOME/tarnwick,
// else ~/.config/tarnwick); else the sample installed with the program (../share/tarnwick from
// its folder); where there is none, the one beside the program, which Run reports missing. The
// page goes beside the template when that folder may be written and is not the installed
// sample's, else into the data folder (made here when missing).
PageFiles LinuxPageFiles(const FilePath& programFolder, const FilePath& configFolder, const FilePath& dataFolder);

// The drawing process the panel starts: tarnwick-drawer beside the program (a build, a portable
// folder), else the installed one (../libexec/tarnwick from the program's folder). Where there
// is neither, the one the program's own folder names: the installed one when the program is
// installed (its sample's folder is there), else the one beside it; starting it is reported.
FilePath LinuxDrawingProgram(const FilePath& programFolder, const char* programName);

// The stand-alone registry's store for this user. Throws AppError when neither XDG_CONFIG_HOME
// nor HOME is set.
std::filesystem::path RegistryStorePath();

}  // namespace tarnwick
