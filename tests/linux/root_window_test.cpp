// The X root window road on a server of its own (run under xvfb-run, at any depth): the picture
// lands on the root and stays after the setter's connection closed, the properties name the
// kept pixmap, the next picture frees the older one, a running program's pixmap named in both is
// left alone (with a window or without), a plain background is a kept 1x1 pixmap, and a failure
// (a picture that cannot be read, an untrusted client as over ssh -X) is reported and changes
// nothing. Pixels may be shown before their file, and be taken back.
#include <QColor>
#include <QGuiApplication>
#include <QImage>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "base/AppError.h"
#include "desktop/DesktopBackground.h"

using namespace tarnwick;

namespace {

int g_failed = 0;
int g_passed = 0;

void Expect(bool condition, const std::string& what)
{
    if (condition) {
        ++g_passed;
    } else {
        ++g_failed;
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    }
}

bool g_xError = false;
int IgnoreXError(Display*, XErrorEvent*)
{
    g_xError = true;
    return 0;
}

// The test's own look at the server, through a connection of its own.
struct Probe {
    Display* display = XOpenDisplay(nullptr);
    Atom rootId = XInternAtom(display, "_XROOTPMAP_ID", False);
    Atom setrootId = XInternAtom(display, "ESETROOT_PMAP_ID", False);

    ~Probe() { XCloseDisplay(display); }
    Window Root() const { return DefaultRootWindow(display); }

    std::optional<Pixmap> Property(Atom property) const
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::optional<Pixmap> pixmap;
        if (XGetWindowProperty(display, Root(), property, 0, 1, False, XA_PIXMAP, &type, &format, &count, &after,
                               &data) == Success &&
            type == XA_PIXMAP && count == 1)
            pixmap = *reinterpret_cast<Pixmap*>(data);
        if (data != nullptr)
            XFree(data);
        return pixmap;
    }

    bool Exists(Pixmap pixmap, unsigned size = 0) const
    {
        g_xError = false;
        XErrorHandler previous = XSetErrorHandler(IgnoreXError);
        Window root = 0;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        const Status ok = XGetGeometry(display, pixmap, &root, &x, &y, &width, &height, &border, &depth);
        XSync(display, False);
        XSetErrorHandler(previous);
        return ok != 0 && !g_xError && (size == 0 || (width == size && height == size));
    }

    // The colour the root window shows at a point, 8 bits a channel, from the visual's masks.
    QColor RootColour(int x, int y) const
    {
        XImage* image = XGetImage(display, Root(), x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr)
            return {};
        const unsigned long pixel = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        Visual* visual = DefaultVisual(display, DefaultScreen(display));
        auto channel = [pixel](unsigned long mask) {
            int shift = 0;
            while (((mask >> shift) & 1) == 0)
                ++shift;
            const unsigned long max = mask >> shift;
            return static_cast<int>((((pixel & mask) >> shift) * 255 + max / 2) / max);
        };
        return QColor(channel(visual->red_mask), channel(visual->green_mask), channel(visual->blue_mask));
    }
};

// A pixmap of the client's, named in both properties.
Pixmap NameNewPixmap(Display* client, const Probe& probe)
{
    const Pixmap pixmap = XCreatePixmap(client, DefaultRootWindow(client), 8, 8, DefaultDepth(client, 0));
    for (Atom property : {probe.rootId, probe.setrootId})
        XChangeProperty(client, DefaultRootWindow(client), property, XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pixmap), 1);
    XSync(client, False);
    return pixmap;
}

int g_tolerance = 8;  // none at 8 bits a channel or more, where every colour comes back exactly
bool Near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= g_tolerance && std::abs(a.green() - b.green()) <= g_tolerance &&
           std::abs(a.blue() - b.blue()) <= g_tolerance;
}

std::string Describe(const QColor& colour)
{
    return colour.name().toStdString();
}

FilePath WritePicture(const std::string& folder, const char* name, const QColor& colour, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    // A mark in the last corner, so that a picture put there at another size shows.
    image.setPixelColor(width - 1, height - 1, QColor(Qt::white));
    const std::string path = folder + "/" + name;
    image.save(QString::fromStdString(path), "PNG");
    return FilePath(path);
}

}  // namespace

int main(int argc, char** argv)
{
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    char folderTemplate[] = "/tmp/tarnwick-root.XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    Probe probe;
    const int width = DisplayWidth(probe.display, DefaultScreen(probe.display));
    const int height = DisplayHeight(probe.display, DefaultScreen(probe.display));
    const QColor red(200, 16, 32), green(16, 180, 64);
    g_tolerance = DefaultDepth(probe.display, DefaultScreen(probe.display)) >= 24 ? 0 : 8;

    std::unique_ptr<IDesktopBackground> background = OpenRootWindowBackground();
    Expect(background != nullptr && background->Name() == "the X root window", "the root window is offered on X11");
    if (!background)
        return 1;

    // A running program that names its own pixmap in both properties; it has a window.
    Display* desktop = XOpenDisplay(nullptr);
    const Window desktopWindow = XCreateSimpleWindow(desktop, DefaultRootWindow(desktop), 0, 0, 8, 8, 0, 0, 0);
    const Pixmap foreign = NameNewPixmap(desktop, probe);

    // An untrusted client (ssh -X) may make the pixmap but not set the root: reported.
    const std::string trusted = std::getenv("XAUTHORITY"), untrusted = folder + "/untrusted";
    const std::string generate = "cp '" + trusted + "' '" + untrusted + "' && xauth -f '" + untrusted +
                                 "' generate \"$DISPLAY\" . untrusted timeout 0 2>/dev/null";
    Expect(std::system(generate.c_str()) == 0, "an untrusted authorization is made");
    setenv("XAUTHORITY", untrusted.c_str(), 1);
    std::string report;
    try {
        background->ShowPicture(WritePicture(folder, "red.png", red, width, height));
    } catch (const AppError& error) {
        report = error.Report();
    }
    setenv("XAUTHORITY", trusted.c_str(), 1);
    Expect(report.find("X error: BadAccess") != std::string::npos && probe.Property(probe.rootId) == foreign,
           "a refused root is reported and changes nothing: " + report);

    background->ShowPicture(WritePicture(folder, "red.png", red, width, height));
    const std::optional<Pixmap> first = probe.Property(probe.rootId);
    Expect(first && probe.Property(probe.setrootId) == first, "both properties name the same pixmap");
    Expect(first && *first != foreign && probe.Exists(*first), "the pixmap outlives the setter's connection");
    Expect(probe.Exists(foreign) && probe.Exists(desktopWindow), "a running desktop program is not killed");
    for (auto [x, y] : {std::pair{0, 0}, {width - 2, 0}, {0, height - 1}, {width / 2, height / 2}})
        Expect(Near(probe.RootColour(x, y), red), "the root shows the picture at " + std::to_string(x) + "," +
                                                      std::to_string(y) + ": " + Describe(probe.RootColour(x, y)));
    Expect(Near(probe.RootColour(width - 1, height - 1), Qt::white), "the picture is shown at its size, unscaled");

    background->ShowPicture(WritePicture(folder, "green.png", green, width, height));
    const std::optional<Pixmap> second = probe.Property(probe.rootId);
    Expect(second && second != first && probe.Property(probe.setrootId) == second, "the properties follow");
    Expect(first && !probe.Exists(*first), "the older kept pixmap is freed");
    Expect(Near(probe.RootColour(width / 2, height / 2), green), "the root shows the new picture");

    const FilePath broken(folder + "/broken.png");
    std::FILE* file = std::fopen(broken.Native().c_str(), "wb");
    std::fputs("\x89PNG but not really", file);
    std::fclose(file);
    bool refused = false;
    try {
        background->ShowPicture(broken);
    } catch (const AppError& error) {
        refused = error.Report().find("not a PNG") != std::string::npos;
    }
    Expect(refused, "a picture that cannot be read is reported");
    Expect(probe.Property(probe.rootId) == second && second && probe.Exists(*second) &&
               Near(probe.RootColour(width / 2, height / 2), green),
           "a failed picture leaves the background as it was");

    background->ShowPlain(FilePath(folder + "/plain.png"));
    const std::optional<Pixmap> plain = probe.Property(probe.rootId);
    Expect(plain && probe.Property(probe.setrootId) == plain && probe.Exists(*plain, 1),
           "a plain background is a kept 1x1 pixmap named in both");
    Expect(second && !probe.Exists(*second), "the kept pixmap is freed on clearing");
    Expect(Near(probe.RootColour(width / 2, height / 2), Qt::black), "the root is plain black");
    Expect(probe.Exists(foreign) && probe.Exists(desktopWindow), "the desktop program still runs");

    // Both properties name a pixmap that is gone with its client, whose number the server gives to
    // the next connection, another program's or the setter's own: passed over, no error (no throw).
    for (const bool ownNumber : {false, true}) {
        Display* quitter = XOpenDisplay(nullptr);
        NameNewPixmap(quitter, probe);
        XCloseDisplay(quitter);
        Display* next = ownNumber ? nullptr : XOpenDisplay(nullptr);
        background->ShowPicture(WritePicture(folder, "green.png", green, width, height));
        if (next != nullptr)
            XCloseDisplay(next);
    }

    // Pixels handed over before their file, in shared memory as the drawing process makes them:
    // the root shows those pixels (the file says otherwise), also once that memory is closed here.
    const QColor blue(20, 40, 210);
    const size_t size = 4 * static_cast<size_t>(width) * static_cast<size_t>(height);
    const int shared = memfd_create("pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    Expect(shared >= 0 && ftruncate(shared, static_cast<off_t>(size)) == 0 &&
               fcntl(shared, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW) == 0,
           "shared memory is made");
    auto* pixels = static_cast<uint32_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, shared, 0));
    std::fill(pixels, pixels + size / 4, blue.rgb());
    pixels[size / 4 - 1] = QColor(Qt::white).rgb();
    const FilePath redFile = WritePicture(folder, "red.png", red, width, height);
    const std::optional<Pixmap> before = probe.Property(probe.rootId);
    background->PreparePicture(PicturePixels{width, height, 4 * static_cast<size_t>(width), pixels, shared});
    Expect(probe.Property(probe.rootId) == before && Near(probe.RootColour(width / 2, height / 2), green),
           "pixels made ready change nothing on the root yet");
    background->ShowPicture(redFile);
    munmap(pixels, size);
    close(shared);
    const std::optional<Pixmap> fromPixels = probe.Property(probe.rootId);
    Expect(fromPixels && probe.Property(probe.setrootId) == fromPixels && probe.Exists(*fromPixels),
           "the pixels' pixmap is named in both and kept");
    Expect(Near(probe.RootColour(width / 2, height / 2), blue) && Near(probe.RootColour(0, 0), blue) &&
               Near(probe.RootColour(width - 1, height - 1), Qt::white),
           "the root shows the pixels handed over, at their size: " +
               Describe(probe.RootColour(width / 2, height / 2)));
    // The next picture's file is read again: what was handed over is used once.
    background->ShowPicture(redFile);
    Expect(Near(probe.RootColour(width / 2, height / 2), red), "a picture without pixels is read from its file");

    // Pixels in memory of this process only, a quarter of the screen: copied, black around them.
    QImage quarter(width / 2, height / 2, QImage::Format_RGB32);
    quarter.fill(green);
    background->PreparePicture(PicturePixels{quarter.width(), quarter.height(),
                                             static_cast<size_t>(quarter.bytesPerLine()),
                                             reinterpret_cast<const uint32_t*>(quarter.constBits()), -1});
    background->ShowPicture(redFile);
    Expect(Near(probe.RootColour(1, 1), green) && Near(probe.RootColour(width / 2 - 1, height / 2 - 1), green) &&
               Near(probe.RootColour(width - 2, height - 2), Qt::black),
           "a smaller picture's pixels sit at the origin with black around");

    // Pixels made ready for a picture that never comes: the root keeps what it had.
    const std::optional<Pixmap> kept = probe.Property(probe.rootId);
    {
        std::unique_ptr<IDesktopBackground> abandoned = OpenRootWindowBackground();
        abandoned->PreparePicture(PicturePixels{quarter.width(), quarter.height(),
                                                static_cast<size_t>(quarter.bytesPerLine()),
                                                reinterpret_cast<const uint32_t*>(quarter.constBits()), -1});
    }
    Expect(probe.Property(probe.rootId) == kept && kept && probe.Exists(*kept) && Near(probe.RootColour(1, 1), green),
           "pixels made ready and never shown change nothing");

    // Pixels shown before their file, where the root names a pixmap it can go back to: on the root
    // at once, named in both; a background dropped before ShowPicture puts back the pixmap, the
    // properties and the colour it found and frees its own; ShowPicture makes them stay and frees
    // the older one. Where the root names no pixmap it can go back to, nothing is shown early.
    struct : IOurPictures {
        bool Holds(const FilePath&) const override { return false; }
    } none;
    const auto pixelsOf = [](const QImage& image) {
        return PicturePixels{image.width(), image.height(), static_cast<size_t>(image.bytesPerLine()),
                             reinterpret_cast<const uint32_t*>(image.constBits()), -1};
    };
    QImage full(width, height, QImage::Format_RGB32);
    full.fill(blue);
    const Atom put = XInternAtom(probe.display, "_TARNWICK_PMAP_ID", False);
    for (const bool stays : {false, true}) {
        // Dropped, the properties go back each to its own: ESETROOT_PMAP_ID another's, ours none.
        XChangeProperty(probe.display, probe.Root(), probe.setrootId, XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(stays ? &*kept : &foreign), 1);
        if (stays)
            XChangeProperty(probe.display, probe.Root(), put, XA_PIXMAP, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&*kept), 1);
        else
            XDeleteProperty(probe.display, probe.Root(), put);
        XSync(probe.display, False);
        std::unique_ptr<IDesktopBackground> early = OpenRootWindowBackground();
        early->PreparePicture(pixelsOf(full));
        const bool shown = early->ShowPrepared();
        const std::optional<Pixmap> now = probe.Property(probe.rootId);
        Expect(shown && now && now != kept && probe.Property(probe.setrootId) == now &&
                   Near(probe.RootColour(width / 2, height / 2), blue),
               "pixels are on the root before their file, named in both");
        if (stays)
            early->ShowPicture(redFile);
        early.reset();
        Expect(stays ? now && probe.Exists(*now) && kept && !probe.Exists(*kept) && Near(probe.RootColour(1, 1), blue)
                     : probe.Property(probe.rootId) == kept && probe.Property(probe.setrootId) == foreign && kept &&
                           probe.Exists(*kept) && Near(probe.RootColour(1, 1), green) && now && !probe.Exists(*now) &&
                           background->Shows(none).whose == DesktopShows::Whose::theirs,
               stays ? "handed its file, the picture stays and the older pixmap goes"
                     : "dropped before its file, the root gets back what it showed");
    }
    // Named by a setter that has gone, whose number the server gave to another program or to this
    // one; then by nothing.
    for (const char* named : {"a gone setter's pixmap, its number another's", "a gone setter's pixmap, its number ours",
                              "no pixmap"}) {
        std::optional<Pixmap> gone;
        Display* next = nullptr;
        if (std::string(named) == "no pixmap") {
            XDeleteProperty(probe.display, probe.Root(), probe.rootId);
        } else {
            Display* quitter = XOpenDisplay(nullptr);
            gone = NameNewPixmap(quitter, probe);
            XCloseDisplay(quitter);
            next = std::string(named).ends_with("ours") ? nullptr : XOpenDisplay(nullptr);
        }
        const QColor was = probe.RootColour(1, 1);
        full.fill(Near(was, green) ? blue : green);
        std::unique_ptr<IDesktopBackground> unnamed = OpenRootWindowBackground();
        unnamed->PreparePicture(pixelsOf(full));
        Expect(!unnamed->ShowPrepared() && probe.Property(probe.rootId) == gone && Near(probe.RootColour(1, 1), was),
               std::string("a root that names ") + named + " is shown nothing before the file");
        unnamed->ShowPicture(redFile);
        Expect(!Near(probe.RootColour(1, 1), was), "and shows the pixels once handed their file");
        if (next != nullptr)
            XCloseDisplay(next);
    }

    // A running program that holds its pixmap, named in both, on its open connection and has no
    // window: left alone, and it runs on.
    int ready[2];
    Expect(pipe(ready) == 0, "a pipe for the holder");
    const pid_t holder = fork();
    if (holder == 0) {
        Probe own;
        Display* holding = XOpenDisplay(nullptr);
        NameNewPixmap(holding, own);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char got = 0;
    Expect(read(ready[0], &got, 1) == 1, "the holder named its pixmap");
    const std::optional<Pixmap> held = probe.Property(probe.rootId);
    background->ShowPicture(WritePicture(folder, "red.png", red, width, height));
    Expect(held && probe.Exists(*held), "a running program's pixmap without a window is not freed");
    Expect(waitpid(holder, nullptr, WNOHANG) == 0, "a running program without a window is not killed");
    kill(holder, SIGTERM);
    waitpid(holder, nullptr, 0);

    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    Expect(OpenRootWindowBackground() == nullptr, "a Wayland session gets no root window road");

    XCloseDisplay(desktop);
    std::filesystem::remove_all(folder);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
