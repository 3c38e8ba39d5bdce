// The page drawer of the Linux desktop: Qt WebEngine loads the local page off-screen at the
// screen's size and draws it once it has finished loading and shown a frame. The page may have
// scripts and styles, never the network: every request that is not file:, data: or qrc: is
// denied, and local content may not reach remote addresses.
#pragma once

#include <chrono>

#include "desktop/LinuxDesktop.h"

namespace tarnwick {

class WebPageDrawer : public IPageDrawer {
public:
    // A page must have loaded and drawn within this bound.
    static constexpr std::chrono::milliseconds kDefaultBound{15000};

    explicit WebPageDrawer(std::chrono::milliseconds bound = kDefaultBound) : bound_(bound) {}

    // The primary screen in device pixels. Throws AppError without a screen.
    PixelSize ScreenSize() override;
    // Waits in a nested event loop, so the program's window keeps repainting. Throws AppError
    // when the page fails to load, its renderer ends, or the bound runs out.
    std::string DrawPage(const FilePath& page, PixelSize size) override;
    std::string PlainPicture(PixelSize size) override;

private:
    std::chrono::milliseconds bound_;
};

// Before QApplication: what WebEngine needs to draw here. Chromium refuses its sandbox as root,
// so it is turned off for root (unless QTWEBENGINE_DISABLE_SANDBOX is set already); pages are
// drawn in software (--disable-gpu unless QTWEBENGINE_CHROMIUM_FLAGS is set), which works on
// every X server, Xvfb included; GL contexts are shared, as WebEngine asks.
void PrepareWebEngine();

}  // namespace tarnwick
