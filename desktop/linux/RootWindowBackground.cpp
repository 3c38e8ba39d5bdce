// The X root window's background, set so that it outlives the program: the picture goes into a
// pixmap of the root window's size that the server keeps after our connection closes
// (RetainPermanent), the root window is cleared to it, and _XROOTPMAP_ID / ESETROOT_PMAP_ID name
// it for compositors and transparent terminals. With several monitors (RandR monitors) the
// picture, drawn at the primary monitor's size, sits at the primary's own place and the rest is
// black. A plain background is a kept 1x1 black pixmap, named the same way: compositors paint
// grey where the properties name nothing.
//
// Pixels handed over before the file (PreparePicture) make the pixmap then, on a connection kept
// for ShowPicture, which need not read the file back: pixels in shared memory become the pixmap
// itself (MIT-SHM), no copy; without them the file is read and decoded. Where the properties
// name a pixmap the root can be given back, that pixmap is shown at once (ShowPrepared), while the
// file is still being encoded and written: ShowPicture then only makes it stay, and a background
// dropped before that puts back the pixmap and the properties it found.
//
// The pixmap a setter kept before is freed the way such setters agree on: both properties name
// the same pixmap, and XKillClient frees what its retained client holds. It is only done when no
// running program may still use it (PixmapInUse): killing a running client, or freeing the pixmap
// a running desktop draws from, ends that program.
#include "desktop/DesktopBackground.h"

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/AppError.h"
#include "base/FileIO.h"
#include "base/StageClock.h"

namespace tarnwick {

namespace {

constexpr char kName[] = "the X root window";

// Xlib reports protocol errors to one handler for the whole process; while a connection of
// ours works, the first error is kept here and the handler given back afterwards.
struct XErrorRecord {
    bool seen = false;
    int code = 0;
    std::string text;
    // While set, the errors a vanished client or window causes are expected and dropped.
    bool tolerateGone = false;
};
XErrorRecord* g_errors = nullptr;

bool GoneError(const XErrorEvent& event)
{
    return (event.request_code == X_KillClient && (event.error_code == BadValue || event.error_code == BadDrawable)) ||
           (event.request_code == X_GetGeometry && event.error_code == BadDrawable) ||
           ((event.request_code == X_QueryTree || event.request_code == X_GetProperty) &&
            event.error_code == BadWindow);
}

int RecordXError(Display* display, XErrorEvent* event)
{
    if (g_errors != nullptr && g_errors->tolerateGone && GoneError(*event))
        return 0;
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

    // While on, the errors of a client or window that went meanwhile are dropped: the tree and the
    // properties change under us. Any other error stays for the next Check. Off waits for the
    // server to answer everything sent so far.
    void TolerateGone(bool on)
    {
        if (!on)
            XSync(display_, False);
        errors_.tolerateGone = on;
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

bool IsDesktopWindow(Display* display, Window window, Atom windowType, Atom desktopType)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    bool desktop = false;
    if (XGetWindowProperty(display, window, windowType, 0, 16, False, XA_ATOM, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_ATOM && format == 32 && data != nullptr) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);  // longs, as above
        desktop = std::find(atoms, atoms + count, desktopType) != atoms + count;
    }
    if (data != nullptr)
        XFree(data);
    return desktop;
}

// Whether the process of the pixmap's client still runs, as the server knows it (X-Resource): a
// program that holds the pixmap on its open connection, with no window, is running. A client this
// program left retained counts as gone; one the server knows no process of (over the network) as
// well.
bool ClientProcessRuns(Display* display, XID pixmap)
{
    int event = 0, error = 0;
    if (!XResQueryExtension(display, &event, &error))
        return false;
    XResClientIdSpec spec{pixmap, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    bool runs = false;
    if (XResQueryClientIds(display, 1, &spec, &count, &values) == Success) {
        for (long i = 0; i < count; ++i) {
            const pid_t pid = XResGetClientPid(&values[i]);
            runs = runs || (pid > 0 && pid != ::getpid() && (::kill(pid, 0) == 0 || errno == EPERM));
        }
        XResClientIdsDestroy(count, values);
    }
    return runs;
}

// The client's part of a resource id: the bits outside the server's resource id mask.
XID ClientOf(Display* display, XID resource)
{
    return resource & ~static_cast<XID>(xcb_get_setup(XGetXCBConnection(display))->resource_id_mask);
}

// Whether a running program may still draw from the pixmap: its client is ours (the properties
// name a pixmap of a client that has gone, and the server gave its number to this connection),
// its client's process runs (ClientProcessRuns), a window of the root's tree was made by its
// client, or a desktop window is there: caja (MATE's background code, like GNOME's) makes its pixmap on a
// retained connection of its own, draws its desktop window from it, and dies on the error once
// the pixmap is gone.
bool PixmapInUse(Display* display, Window root, XID pixmap, XID ours)
{
    const XID client = ClientOf(display, pixmap);
    if (client == ClientOf(display, ours) || ClientProcessRuns(display, pixmap))
        return true;
    const Atom windowType = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom desktopType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DESKTOP", False);
    std::vector<Window> pending{root};
    bool inUse = false;
    while (!pending.empty() && !inUse) {
        const Window window = pending.back();
        pending.pop_back();
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) == 0)
            continue;  // gone meanwhile
        for (unsigned i = 0; i < count && !inUse; ++i) {
            inUse = ClientOf(display, children[i]) == client ||
                    IsDesktopWindow(display, children[i], windowType, desktopType);
            pending.push_back(children[i]);
        }
        if (children != nullptr)
            XFree(children);
    }
    return inUse;
}

// What the root's properties named before a pixmap of ours took their place: the pixmap an
// earlier setter kept, freed by the agreement above once ours stays, and what a picture shown
// early goes back to.
struct Named {
    std::optional<Pixmap> shown;     // _XROOTPMAP_ID
    std::optional<Pixmap> retained;  // ESETROOT_PMAP_ID
    std::optional<Pixmap> put;       // ours, which Shows reads
};

// Frees the pixmap an earlier setter kept, once ours stays, unless a running program may still
// draw from it. No error here ends the step: a client that has gone meanwhile is expected, and
// what cannot be freed stays with the server while our picture is shown all the same.
void FreeOlder(Connection& connection, const Named& before, Pixmap ours)
{
    if (!before.shown || before.shown != before.retained || *before.shown == None)
        return;
    connection.TolerateGone(true);
    if (!PixmapInUse(connection.Get(), connection.Root(), *before.retained, ours))
        XKillClient(connection.Get(), *before.retained);
    connection.TolerateGone(false);
}

// Whether the root can be given the pixmap back as its background: it is there, on this screen,
// of the root's depth, and not this connection's (a setter that has gone left its number to it).
bool CanGoBackTo(Connection& connection, Pixmap pixmap, Pixmap ours)
{
    if (ClientOf(connection.Get(), pixmap) == ClientOf(connection.Get(), ours))
        return false;
    Window root = None;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    connection.TolerateGone(true);
    const Status there = XGetGeometry(connection.Get(), pixmap, &root, &x, &y, &width, &height, &border, &depth);
    connection.TolerateGone(false);
    return pixmap != None && there != 0 && root == connection.Root() &&
           static_cast<int>(depth) == DefaultDepth(connection.Get(), DefaultScreen(connection.Get()));
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

// An 8-bit value at the channel's width, rounded to the nearest level: 255 is the channel's
// full value at any width (1023 on a 30-bit visual, 31 on a 16-bit one).
unsigned long Scale(unsigned value8, Channel channel)
{
    const unsigned long full = (1ul << channel.bits) - 1;
    return ((value8 * full + 127) / 255) << channel.shift;
}

// Where the picture goes on the root window: a picture of the root's size covers it from its
// origin; a smaller one (drawn at the primary monitor's size) sits at the primary RandR monitor's
// place, else at the first monitor's, else at the origin.
struct Place {
    int x = 0;
    int y = 0;
};
Place PicturePlace(Display* display, Window root, int width, int height)
{
    const int screen = DefaultScreen(display);
    if (width == DisplayWidth(display, screen) && height == DisplayHeight(display, screen))
        return {};
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &event, &error) || !XRRQueryVersion(display, &major, &minor) ||
        (major == 1 && minor < 5))
        return {};
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    const XRRMonitorInfo* chosen = count > 0 ? &monitors[0] : nullptr;
    for (int i = 0; i < count; ++i)
        if (monitors[i].primary)
            chosen = &monitors[i];
    const Place place = chosen != nullptr ? Place{chosen->x, chosen->y} : Place{};
    if (monitors != nullptr)
        XRRFreeMonitors(monitors);
    return place;
}

// Whether the visual's pixels are the picture's own 32-bit 0xffRRGGBB ones, byte for byte.
bool SameLayout(const XImage& image, Visual* visual)
{
    return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && visual->red_mask == 0xff0000 &&
           visual->green_mask == 0xff00 && visual->blue_mask == 0xff;
}

// MIT-SHM as the server offers it to this connection: whether it takes memory as a file
// descriptor (version 1.2), and whether its pixmaps may live in such memory.
struct SharedMemory {
    bool fds = false;
    bool pixmaps = false;
};
SharedMemory SharedMemoryOf(xcb_connection_t* xcb)
{
    SharedMemory offered;
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(xcb, &xcb_shm_id);
    if (shm == nullptr || !shm->present)
        return offered;
    xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(xcb, xcb_shm_query_version(xcb), nullptr);
    if (version != nullptr) {
        offered.fds = version->major_version > 1 || version->minor_version >= 2;
        offered.pixmaps = offered.fds && version->shared_pixmaps && version->pixmap_format == XCB_IMAGE_FORMAT_Z_PIXMAP;
    }
    std::free(version);
    return offered;
}

// The pixels' memory attached to the server as a segment (it maps the memory itself); none where
// it cannot.
std::optional<xcb_shm_seg_t> AttachShared(Display* display, const PicturePixels& pixels, bool readOnly)
{
    xcb_connection_t* xcb = XGetXCBConnection(display);
    const int descriptor = ::fcntl(pixels.sharedFd, F_DUPFD_CLOEXEC, 3);
    if (descriptor < 0)
        return std::nullopt;
    XFlush(display);  // what Xlib holds goes first
    const xcb_shm_seg_t segment = xcb_generate_id(xcb);
    if (xcb_generic_error_t* error =
            xcb_request_check(xcb, xcb_shm_attach_fd_checked(xcb, segment, descriptor, readOnly ? 1 : 0))) {
        std::free(error);  // the descriptor was sent, and closed, all the same
        return std::nullopt;
    }
    return segment;
}

// The pixels into the pixmap by MIT-SHM: the server copies them from the memory they are in.
// False where it cannot; then nothing was drawn.
bool PutShared(Display* display, Pixmap pixmap, GC gc, const PicturePixels& pixels, int depth, int x, int y)
{
    xcb_connection_t* xcb = XGetXCBConnection(display);
    if (!SharedMemoryOf(xcb).fds)
        return false;
    const std::optional<xcb_shm_seg_t> segment = AttachShared(display, pixels, true);
    if (!segment)
        return false;
    const xcb_void_cookie_t put = xcb_shm_put_image_checked(
        xcb, static_cast<xcb_drawable_t>(pixmap), static_cast<xcb_gcontext_t>(XGContextFromGC(gc)),
        static_cast<uint16_t>(pixels.stride / 4), static_cast<uint16_t>(pixels.height), 0, 0,
        static_cast<uint16_t>(pixels.width), static_cast<uint16_t>(pixels.height), static_cast<int16_t>(x),
        static_cast<int16_t>(y), static_cast<uint8_t>(depth), XCB_IMAGE_FORMAT_Z_PIXMAP, 0, *segment, 0);
    xcb_shm_detach(xcb, *segment);
    xcb_generic_error_t* error = xcb_request_check(xcb, put);
    std::free(error);
    return error == nullptr;
}

// A pixmap that is the pixels' memory itself, no copy at all: the server keeps that memory for as
// long as the pixmap lives (after our segment is detached and our connection gone), mapped for
// writing as a pixmap is. None where the server has no such pixmaps.
std::optional<Pixmap> SharedPixmap(Display* display, Window root, const PicturePixels& pixels, int depth)
{
    xcb_connection_t* xcb = XGetXCBConnection(display);
    if (!SharedMemoryOf(xcb).pixmaps || pixels.stride != 4 * static_cast<size_t>(pixels.width))
        return std::nullopt;
    const std::optional<xcb_shm_seg_t> segment = AttachShared(display, pixels, false);
    if (!segment)
        return std::nullopt;
    const auto pixmap = static_cast<Pixmap>(xcb_generate_id(xcb));
    const xcb_void_cookie_t made = xcb_shm_create_pixmap_checked(
        xcb, static_cast<xcb_pixmap_t>(pixmap), static_cast<xcb_window_t>(root), static_cast<uint16_t>(pixels.width),
        static_cast<uint16_t>(pixels.height), static_cast<uint8_t>(depth), *segment, 0);
    xcb_shm_detach(xcb, *segment);
    xcb_generic_error_t* error = xcb_request_check(xcb, made);
    std::free(error);
    return error == nullptr ? std::optional<Pixmap>(pixmap) : std::nullopt;
}

// The picture in a pixmap of the root window's size and depth, at its place and black around,
// made and filled without touching the root. Where the pixels are in shared memory the server can
// map (MIT-SHM), a picture of the root's size becomes the pixmap as it is, any other is copied
// from there; else they are sent over the connection.
Pixmap MakePixmap(Connection& connection, const PicturePixels& picture, const std::string& context)
{
    Display* display = connection.Get();
    const int screen = DefaultScreen(display);
    const int rootWidth = DisplayWidth(display, screen);
    const int rootHeight = DisplayHeight(display, screen);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    if (visual->c_class != TrueColor)
        throw AppError(ENOTSUP, "The X display's default visual is not TrueColor", context);

    const int width = picture.width;
    const int height = picture.height;
    XImage* image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (image == nullptr)
        throw AppError(ENOMEM, DescribeSystemError(ENOMEM), context);
    const bool direct = SameLayout(*image, visual);

    const Place place = PicturePlace(display, connection.Root(), width, height);
    if (direct && picture.sharedFd >= 0 && width == rootWidth && height == rootHeight) {
        if (const std::optional<Pixmap> shared = SharedPixmap(display, connection.Root(), picture, depth)) {
            XDestroyImage(image);
            connection.Check(context);
            return *shared;
        }
    }
    const Pixmap pixmap = XCreatePixmap(display, connection.Root(), static_cast<unsigned>(rootWidth),
                                        static_cast<unsigned>(rootHeight), static_cast<unsigned>(depth));
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    if (place.x != 0 || place.y != 0 || width < rootWidth || height < rootHeight) {
        XSetForeground(display, gc, BlackPixel(display, screen));
        XFillRectangle(display, pixmap, gc, 0, 0, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight));
    }
    const bool shared = direct && picture.sharedFd >= 0 && picture.stride % 4 == 0 &&
                        PutShared(display, pixmap, gc, picture, depth, place.x, place.y);
    if (!shared && direct && picture.stride == static_cast<size_t>(image->bytes_per_line)) {
        // Sent straight from where the pixels are.
        image->data = const_cast<char*>(reinterpret_cast<const char*>(picture.data));
        XPutImage(display, pixmap, gc, image, 0, 0, place.x, place.y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
        image->data = nullptr;
    } else if (!shared) {
        image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), height));
        if (image->data == nullptr) {
            XFreeGC(display, gc);
            XFreePixmap(display, pixmap);
            XDestroyImage(image);
            throw AppError(ENOMEM, DescribeSystemError(ENOMEM), context);
        }
        const Channel red = ChannelOf(visual->red_mask);
        const Channel green = ChannelOf(visual->green_mask);
        const Channel blue = ChannelOf(visual->blue_mask);
        for (int y = 0; y < height; ++y) {
            const uint32_t* row = picture.data + static_cast<size_t>(y) * (picture.stride / 4);
            if (direct) {
                std::memcpy(image->data + static_cast<ptrdiff_t>(y) * image->bytes_per_line, row,
                            static_cast<size_t>(width) * 4);
                continue;
            }
            for (int x = 0; x < width; ++x) {
                const uint32_t pixel = row[x];
                XPutPixel(image, x, y,
                          Scale((pixel >> 16) & 0xFF, red) | Scale((pixel >> 8) & 0xFF, green) |
                              Scale(pixel & 0xFF, blue));
            }
        }
        XPutImage(display, pixmap, gc, image, 0, 0, place.x, place.y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    }
    XFreeGC(display, gc);
    XDestroyImage(image);  // frees the pixels it owns
    connection.Check(context);
    return pixmap;
}

class RootWindowBackground : public IDesktopBackground {
public:
    ~RootWindowBackground() override { Drop(); }

    std::string Name() const override { return kName; }

    // The pixmap is made and filled now, on a connection kept open for ShowPicture; the root is
    // not touched. When anything fails, ShowPicture reads the file as ever.
    void PreparePicture(const PicturePixels& pixels) override
    {
        Drop();
        try {
            Prepared made{std::make_unique<Connection>(), None, std::nullopt};
            made.pixmap = MakePixmap(*made.connection, pixels, std::string());
            prepared_ = std::move(made);
        } catch (const AppError&) {
            // ShowPicture tries again from the file, and reports.
        }
    }

    // Only where the properties name a pixmap the root can be given back: what the root showed
    // before cannot be read from the server otherwise (a colour xsetroot set, the server's own).
    bool ShowPrepared() override
    {
        if (!prepared_)
            return false;
        StageClock clock;
        Connection& connection = *prepared_->connection;
        const Named before = ReadNamed(connection);
        if (!before.shown || !CanGoBackTo(connection, *before.shown, prepared_->pixmap))
            return false;
        try {
            // Kept from now on, so that a Run ended before ShowPicture leaves properties that
            // name a pixmap that is there.
            XSetCloseDownMode(connection.Get(), RetainPermanent);
            ShowOnRoot(connection, prepared_->pixmap, std::string());
        } catch (const AppError&) {
            PutBack(connection, before);
            prepared_.reset();  // ShowPicture makes it again from the file, and reports
            return false;
        }
        prepared_->before = before;
        clock.Mark("root:set-root");
        return true;
    }

    void ShowPicture(const FilePath& picture) override
    {
        const std::string context = "The page's picture could not be put on the X root window.";
        StageClock clock;
        std::optional<Prepared> prepared = std::move(prepared_);
        prepared_.reset();
        if (prepared && prepared->before) {
            // Shown already: it stays.
            FreeOlder(*prepared->connection, *prepared->before, prepared->pixmap);
            prepared->connection->CloseRetaining();
            clock.Mark("root:kept");
            return;
        }
        if (!prepared) {
            QImage image;
            {
                const std::string bytes = ReadWholeFile(picture);
                clock.Mark("root:read-file");
                image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()), "PNG");
                clock.Mark("root:png-decode");
            }
            if (image.isNull())
                throw AppError(kErrorBadData, "The picture " + picture.ToUtf8() + " is not a PNG image", context);
            image.convertTo(QImage::Format_RGB32);
            Prepared made{std::make_unique<Connection>(), None, std::nullopt};
            made.pixmap = MakePixmap(*made.connection,
                                     PicturePixels{.width = image.width(),
                                                   .height = image.height(),
                                                   .stride = static_cast<size_t>(image.bytesPerLine()),
                                                   .data = reinterpret_cast<const uint32_t*>(image.constBits())},
                                     context);
            prepared = std::move(made);
            clock.Mark("root:pixmap-upload");
        }
        Put(*prepared->connection, prepared->pixmap, context);
        clock.Mark("root:set-root");
    }

    void ShowPlain(const FilePath&) override
    {
        const std::string context = "The X root window could not be cleared.";
        Connection connection;
        Display* display = connection.Get();
        const Window root = connection.Root();
        const int screen = DefaultScreen(display);
        const Pixmap pixmap = XCreatePixmap(display, root, 1, 1, static_cast<unsigned>(DefaultDepth(display, screen)));
        GC gc = XCreateGC(display, pixmap, 0, nullptr);
        XSetForeground(display, gc, BlackPixel(display, screen));
        XFillRectangle(display, pixmap, gc, 0, 0, 1, 1);
        XFreeGC(display, gc);
        connection.Check(context);
        Put(connection, pixmap, context);
    }

    // Ours where the root shows the pixmap this program put there last; the pixmap a person's
    // tool sets cannot be read back. No pixmap at all is the server's or the window manager's own.
    DesktopShows Shows(const IOurPictures&) override
    {
        Connection connection;
        const Named named = ReadNamed(connection);
        return {named.shown && named.put && *named.shown == *named.put && *named.shown != None
                    ? DesktopShows::Whose::ours
                    : DesktopShows::Whose::theirs,
                {}};
    }

private:
    static constexpr char kPutProperty[] = "_TARNWICK_PMAP_ID";

    struct Atoms {
        Atom shown, retained, put;
    };
    static Atoms AtomsOf(Display* display)
    {
        return {XInternAtom(display, "_XROOTPMAP_ID", False), XInternAtom(display, "ESETROOT_PMAP_ID", False),
                XInternAtom(display, kPutProperty, False)};
    }

    static Named ReadNamed(Connection& connection)
    {
        const Atoms atoms = AtomsOf(connection.Get());
        return {PixmapProperty(connection.Get(), connection.Root(), atoms.shown),
                PixmapProperty(connection.Get(), connection.Root(), atoms.retained),
                PixmapProperty(connection.Get(), connection.Root(), atoms.put)};
    }

    // Makes background the root's and has the properties name what named holds (a property it
    // holds none for is deleted).
    static void ShowNamed(Connection& connection, Pixmap background, const Named& named)
    {
        Display* display = connection.Get();
        const Atoms atoms = AtomsOf(display);
        XSetWindowBackgroundPixmap(display, connection.Root(), background);
        XClearWindow(display, connection.Root());
        for (auto [property, pixmap] :
             {std::pair{atoms.shown, named.shown}, {atoms.retained, named.retained}, {atoms.put, named.put}}) {
            if (pixmap)
                XChangeProperty(display, connection.Root(), property, XA_PIXMAP, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(&*pixmap), 1);
            else
                XDeleteProperty(display, connection.Root(), property);
        }
    }

    // Makes pixmap the root's background, named in the properties other programs read (and in
    // ours, which Shows reads).
    static void ShowOnRoot(Connection& connection, Pixmap pixmap, const std::string& context)
    {
        ShowNamed(connection, pixmap, {pixmap, pixmap, pixmap});
        connection.Check(context);
    }

    // Gives the root back what it showed and the properties what they named before ShowOnRoot; no
    // error stops it. Our pixmap is freed as the connection closes.
    static void PutBack(Connection& connection, const Named& before)
    {
        ShowNamed(connection, *before.shown, before);
        XSetCloseDownMode(connection.Get(), DestroyAll);
        XSync(connection.Get(), False);
    }

    // Shows the pixmap on the root, frees what an earlier setter kept, and leaves the pixmap with
    // the server.
    static void Put(Connection& connection, Pixmap pixmap, const std::string& context)
    {
        const Named before = ReadNamed(connection);
        ShowOnRoot(connection, pixmap, context);
        FreeOlder(connection, before, pixmap);
        connection.CloseRetaining();
    }

    // What was prepared and never made to stay goes; a picture shown early is taken back.
    void Drop()
    {
        if (prepared_ && prepared_->before)
            PutBack(*prepared_->connection, *prepared_->before);
        prepared_.reset();
    }

    // A pixmap made from the pixels before the file was there, on its own connection, which
    // frees it when it closes without ShowPicture; before is what the root named until it was
    // shown early (ShowPrepared).
    struct Prepared {
        std::unique_ptr<Connection> connection;
        Pixmap pixmap = None;
        std::optional<Named> before;
    };
    std::optional<Prepared> prepared_;
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
