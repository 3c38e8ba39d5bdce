// The page's picture wallpaper on Windows Vista and later: the system's wallpaper setting
// (SystemParametersInfoW, HKCU\Control Panel\Desktop), its policies, the picture folder
// (%LOCALAPPDATA%\Tarnwick, else %APPDATA%\Tarnwick) and the record of the person's own wallpaper
// (HKCU\Software\Tarnwick), each monitor's picture on 8 and later (IDesktopWallpaper); and MSHTML, the engine that draws the page. Every function newer than
// Windows 95 is looked up when it is first called, so the program still loads there.
#pragma once

#include "desktop/PageWallpaper.h"

namespace tarnwick {

class Win32PictureDesktop : public IPictureDesktop {
public:
    ScreenPixels ScreenSize() override;
    std::optional<std::string> Refusal() override;
    PictureWallpaper Current() override;
    void Show(const PictureWallpaper& wallpaper) override;
    std::vector<std::u16string> ShownNames() override;
    std::vector<MonitorWallpaper> Monitors() override;
    void ShowOn(const std::u16string& monitor, const std::u16string& path) override;
    FilePath PictureFolder() override;
    std::vector<std::string> FileNames(const FilePath& folder) override;
    void MakeFolder(const FilePath& folder) override;
    void RemoveFile(const FilePath& file) override;
    std::optional<PictureWallpaper> Kept() override;
    void Keep(const PictureWallpaper& wallpaper) override;
    void Forget() override;
};

// The WebBrowser control in a window of the program's own that is never shown: offline and
// silent (no ActiveX controls, no Java, no downloads, no dialogs, no new windows), with a
// security manager that refuses every URL but file:, about:, res: and data:. The page is drawn
// once it is complete and its scripts have had a moment, all within 15 seconds. The calling
// thread must be a single-threaded COM apartment.
class MshtmlEngine : public IPageEngine {
public:
    std::string DrawPage(const FilePath& page, ScreenPixels size) override;
};

}  // namespace tarnwick
