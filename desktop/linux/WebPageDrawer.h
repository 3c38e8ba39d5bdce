// The page drawer of the Linux desktop, as the panel holds it. The page is drawn by a process
// of its own, tarnwick-drawer beside the program (PageEngine.h): Qt WebEngine on Qt's offscreen
// platform, so the drawing never has a window on any display, the panel never loads WebEngine,
// and a renderer that crashes does not take the panel with it. The panel starts that process
// early (Start), while a person is still reaching for "Run Tarnwick", so Run pays only for the
// page's load and drawing. The screen is the panel's: its size is read here, and the black
// picture made here.
//
// The drawing process ends when its panel does: it is told to (its standard input closes) when
// the drawer goes, and the kernel ends it (PR_SET_PDEATHSIG) when the panel ends any other way.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "base/FilePath.h"
#include "desktop/LinuxDesktop.h"
#include "desktop/linux/DrawingExchange.h"

namespace tarnwick {

class WebPageDrawer : public IPageDrawer {
public:
    // A page must have loaded and drawn within this bound.
    static constexpr std::chrono::milliseconds kDefaultBound{15000};
    // On top of the bound, what the drawing process may take to start.
    static constexpr std::chrono::milliseconds kStartAllowance{15000};
    static constexpr char kProgramName[] = "tarnwick-drawer";

    explicit WebPageDrawer(FilePath drawingProgram, std::chrono::milliseconds bound = kDefaultBound);
    ~WebPageDrawer() override;
    WebPageDrawer(const WebPageDrawer&) = delete;
    WebPageDrawer& operator=(const WebPageDrawer&) = delete;

    // Starts the drawing process when it is not running; a process that cannot start is
    // reported by the next DrawPage. Needs a running QCoreApplication.
    void Start();

    // The primary screen in device pixels. Throws AppError without a screen.
    PixelSize ScreenSize() override;
    // Waits in a nested event loop, so the program's window keeps repainting. Throws AppError
    // when the page fails to load, its renderer or the drawing process ends, or the bound runs out.
    std::string DrawPage(const FilePath& page, PixelSize size) override;
    // The drawing process hands the pixels over first, in memory it shares (DrawingExchange.h);
    // they go to pixelsReady while it encodes their PNG.
    std::string DrawPageWithPixels(const FilePath& page, PixelSize size, const PixelsReady& pixelsReady) override;
    std::string PlainPicture(PixelSize size) override;

private:
    void Stop();
    ssize_t Receive();
    bool HandPixels(const exchange::Reply& reply, const PixelsReady& pixelsReady);

    FilePath program_;
    std::chrono::milliseconds bound_;
    int pid_ = -1;     // the drawing process, while it runs
    int socket_ = -1;  // its standard input and output
    int startError_ = 0;
    std::string arrived_;           // what it answered that has not been taken yet
    std::vector<int> descriptors_;  // the file descriptors that came with it, not taken yet
};

}  // namespace tarnwick
