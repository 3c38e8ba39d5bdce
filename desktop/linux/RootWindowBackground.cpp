// The X root window's background, set so that it outlives the program: the picture goes into a
// pixmap that the server keeps after our connection closes (RetainPermanent), the root window is
// cleared to it, and _XROOTPMAP_ID / ESETROOT_PMAP_ID name it for compositors and transparent
// terminals. The pixmap a setter kept before is freed the way such setters agree on: only when
// both properties name the same pixmap is its owner a retained client of a setter, which
// XKillClient then frees; a pixmap some running desktop put there is left alone.
#include "desktop/DesktopBackground.h"

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/AppError.h"
#include "base/FileIO.h"

namespace tarnwick {

namespace {

constexpr char kName[] = "the X root window";

// Xlib reports protocol errors to one handler for the whole process; while a connection of
// ours works, the first error is kept here and the handler given back afterwards.
struct XErrorRecord {
    bool seen = false;
    int code = 0;
    std::string text;
};
XErrorRecord* g_errors = nullptr;

int RecordXError(Display* display, XErrorEvent* event)
{
    if (g_errors != nullptr && !g_errors->seen) {
        char text[256] = {};
        XGetErrorText(display, event->error_code, text, sizeof text);
        g_errors->seen = true;
        g_errors->code = event->error_code;
        g_errors->text = text;
    }
    return 0;
}

// One connection of our own, so that what it keeps after closing is only what we ask for.
class Connection {
public:
    Connection()
    {
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr)
            throw AppError(ENXIO, "Cannot open the display",
                           "The desktop background could not be set: the X display could not be reached.");
        previous_ = XSetErrorHandler(RecordXError);
        g_errors = &errors_;
    }
    ~Connection()
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
        g_errors = nullptr;
        XSetErrorHandler(previous_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* Get() const { return display_; }
    Window Root() const { return DefaultRootWindow(display_); }

    // Waits for the server to answer everything sent so far; an error it met ends the step.
    void Check(const std::string& context)
    {
        XSync(display_, False);
        if (errors_.seen)
            throw AppError(static_cast<uint32_t>(errors_.code), "X error: " + errors_.text, context);
    }

    // Closes now, keeping the resources made on this connection (the pixmap) on the server.
    void CloseRetaining()
    {
        XSetCloseDownMode(display_, RetainPermanent);
        XCloseDisplay(display_);
        display_ = nullptr;
    }

private:
    Display* display_ = nullptr;
    XErrorHandler previous_ = nullptr;
    XErrorRecord errors_;
};

std::optional<Pixmap> PixmapProperty(Display* display, Window root, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<Pixmap> pixmap;
    if (XGetWindowProperty(display, root, property, 0, 1, False, XA_PIXMAP, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_PIXMAP && format == 32 && count == 1 && data != nullptr)
        pixmap = *reinterpret_cast<Pixmap*>(data);  // Xlib hands 32-bit items as longs
    if (data != nullptr)
        XFree(data);
    return pixmap;
}

// Frees the pixmap an earlier setter left on the server, by the agreement above.
void FreeRetainedPixmap(Connection& connection, Atom rootId, Atom setrootId)
{
    Display* display = connection.Get();
    const std::optional<Pixmap> shown = PixmapProperty(display, connection.Root(), rootId);
    const std::optional<Pixmap> retained = PixmapProperty(display, connection.Root(), setrootId);
    if (shown && retained && *shown == *retained && *shown != None)
        XKillClient(display, *retained);
}

// The shift and width of a channel mask, for a TrueColor visual.
struct Channel {
    int shift = 0;
    int bits = 0;
};
Channel ChannelOf(unsigned long mask)
{
    Channel channel;
    if (mask == 0)
        return channel;
    while ((mask & 1) == 0) {
        mask >>= 1;
        ++channel.shift;
    }
    while ((mask & 1) != 0) {
        mask >>= 1;
        ++channel.bits;
    }
    return channel;
}
unsigned long Scale(unsigned value8, Channel channel)
{
    const unsigned long value = channel.bits >= 8 ? value8 << (channel.bits - 8) : value8 >> (8 - channel.bits);
    return value << channel.shift;
}

// The picture as a pixmap of the root window's depth, made and filled without touching the root.
Pixmap MakePixmap(Connection& connection, const QImage& picture, const std::string& context)
{
    Display* display = connection.Get();
    const int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    if (visual->c_class != TrueColor)
        throw AppError(ENOTSUP, "The X display's default visual is not TrueColor", context);

    const int width = picture.width();
    const int height = picture.height();
    XImage* image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (image == nullptr)
        throw AppError(ENOMEM, DescribeSystemError(ENOMEM), context);
    image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), height));
    if (image->data == nullptr) {
        XDestroyImage(image);
        throw AppError(ENOMEM, DescribeSystemError(ENOMEM), context);
    }

    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const Channel red = ChannelOf(visual->red_mask);
    const Channel green = ChannelOf(visual->green_mask);
    const Channel blue = ChannelOf(visual->blue_mask);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst && red.shift == 16 &&
                        red.bits == 8 && green.shift == 8 && green.bits == 8 && blue.shift == 0 && blue.bits == 8;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(rgb.constScanLine(y));
        if (direct) {
            std::memcpy(image->data + static_cast<ptrdiff_t>(y) * image->bytes_per_line, row,
                        static_cast<size_t>(width) * 4);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = row[x];
            XPutPixel(image, x, y,
                      Scale((pixel >> 16) & 0xFF, red) | Scale((pixel >> 8) & 0xFF, green) | Scale(pixel & 0xFF, blue));
        }
    }

    const Pixmap pixmap = XCreatePixmap(display, connection.Root(), static_cast<unsigned>(width),
                                        static_cast<unsigned>(height), static_cast<unsigned>(depth));
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFreeGC(display, gc);
    XDestroyImage(image);  // frees the pixels too
    connection.Check(context);
    return pixmap;
}

class RootWindowBackground : public IDesktopBackground {
public:
    std::string Name() const override { return kName; }

    void ShowPicture(const FilePath& picture) override
    {
        const std::string context = "The page's picture could not be put on the X root window.";
        QImage image;
        {
            const std::string bytes = ReadWholeFile(picture);
            image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()), "PNG");
        }
        if (image.isNull())
            throw AppError(kErrorBadData, "The picture " + picture.ToUtf8() + " is not a PNG image", context);

        Connection connection;
        const Atom rootId = XInternAtom(connection.Get(), "_XROOTPMAP_ID", False);
        const Atom setrootId = XInternAtom(connection.Get(), "ESETROOT_PMAP_ID", False);
        // Everything that may fail comes before the root is touched.
        Pixmap pixmap = MakePixmap(connection, image, context);

        FreeRetainedPixmap(connection, rootId, setrootId);
        const Window root = connection.Root();
        XSetWindowBackgroundPixmap(connection.Get(), root, pixmap);
        XClearWindow(connection.Get(), root);
        for (Atom property : {rootId, setrootId})
            XChangeProperty(connection.Get(), root, property, XA_PIXMAP, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&pixmap), 1);
        connection.Check(context);
        connection.CloseRetaining();
    }

    void ShowPlain(const FilePath&) override
    {
        const std::string context = "The X root window could not be cleared.";
        Connection connection;
        Display* display = connection.Get();
        const Atom rootId = XInternAtom(display, "_XROOTPMAP_ID", False);
        const Atom setrootId = XInternAtom(display, "ESETROOT_PMAP_ID", False);
        FreeRetainedPixmap(connection, rootId, setrootId);
        const Window root = connection.Root();
        XSetWindowBackground(display, root, BlackPixel(display, DefaultScreen(display)));
        XClearWindow(display, root);
        XDeleteProperty(display, root, rootId);
        XDeleteProperty(display, root, setrootId);
        connection.Check(context);
    }
};

// A Wayland session shows no X root window, even to a program that runs on XWayland.
bool WaylandSession()
{
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (type != nullptr && std::strcmp(type, "wayland") == 0)
        return true;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland != nullptr && *wayland != '\0';
}

}  // namespace

std::unique_ptr<IDesktopBackground> OpenRootWindowBackground()
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || WaylandSession())
        return nullptr;
    return std::make_unique<RootWindowBackground>();
}

}  // namespace tarnwick
