// The drawing process's engine: Qt WebEngine on Qt's offscreen platform, so no window exists on
// any display, draws a local page at a given size in pixels. It lives in a process of its own
// (tarnwick-drawer), which the panel starts early and talks to over a pipe (WebPageDrawer.h), so
// the panel never loads WebEngine and a renderer that crashes takes only this process down.
//
// The page may have scripts, styles and local pictures, never the network: every request that
// is not file:, data: or qrc: is denied, local content may not reach remote addresses, every
// host name (and address) resolves to nothing, and WebRTC may send UDP only through a proxy,
// of which there is none. "Loaded and drawn" is decided in a script world of the program's own,
// after the page's fonts are ready and two animation frames, so nothing the page redefines can
// stall it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QImage>

#include "base/AppError.h"

namespace tarnwick {

// Before QApplication: the offscreen platform at one device pixel a pixel (the panel's scale
// becomes the page's zoom), software drawing, and the Chromium flags that seal the network,
// appended to the person's own QTWEBENGINE_CHROMIUM_FLAGS. Chromium refuses its sandbox as root,
// so it is turned off for root (unless QTWEBENGINE_DISABLE_SANDBOX is set already).
void PrepareDrawingEngine();

// A drawn page's pixels in memory of their own that another process may map: a memfd sealed
// against shrinking and growing, mapped here, 32-bit 0xffRRGGBB rows (QImage::Format_RGB32).
class SharedFrame {
public:
    // Throws AppError when there is no memory for it.
    SharedFrame(int width, int height);
    ~SharedFrame();
    SharedFrame(const SharedFrame&) = delete;
    SharedFrame& operator=(const SharedFrame&) = delete;

    // The pixels in place, no copy, to draw into; valid while this frame is.
    QImage Writable();
    // A picture of this size in QImage::Format_RGB32, copied in.
    void Fill(const QImage& picture);
    // The pixels in place, no copy; valid while this frame is.
    QImage Image() const;
    int Fd() const { return fd_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t Stride() const { return stride_; }

private:
    int width_;
    int height_;
    size_t stride_;
    int fd_ = -1;
    uint32_t* data_ = nullptr;
};

class PageEngine {
public:
    // Needs a QApplication. Starts the engine and its renderer on an empty page of that size.
    PageEngine(int width, int height);
    ~PageEngine();
    PageEngine(const PageEngine&) = delete;
    PageEngine& operator=(const PageEngine&) = delete;

    // The page (a file: URI) loaded and drawn at width x height pixels, zoomed by ratio (the
    // screen's device pixels per logical pixel). Throws AppError whose description says why (it
    // failed to load, its renderer ended, the bound ran out); the number is an errno.
    std::unique_ptr<SharedFrame> Draw(const std::string& fileUri, int width, int height, double ratio,
                                      std::chrono::milliseconds bound);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The drawing process: answers requests read from standard input until it ends (see
// DrawingExchange.h). Its arguments: the panel's process id (the process ends with the panel),
// then the screen's width and height in pixels, the size its first page is most likely drawn at.
int RunDrawingProcess(int argc, char** argv);

}  // namespace tarnwick
