// What the end-to-end tests need of X that xdotool does not offer:
//   xprobe close WINDOW   asks the window to close, as a window manager does (WM_DELETE_WINDOW)
//   xprobe cursor         prints the pointer's cursor: "WIDTHxHEIGHT HOTX,HOTY OPAQUE" where
//                         OPAQUE counts the pixels with full alpha
//   xprobe desktop CLASS  maps a window over the whole screen, of type _NET_WM_WINDOW_TYPE_DESKTOP
//                         and class CLASS, painted mid grey, as a desktop program of some kind
//                         does; prints its id and keeps it until ended
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int CloseWindow(Display* display, Window window)
{
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    if (!XSendEvent(display, window, False, NoEventMask, &event)) {
        fprintf(stderr, "xprobe: cannot send the close request\n");
        return 1;
    }
    XSync(display, False);
    return 0;
}

int PrintCursor(Display* display)
{
    int eventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
        fprintf(stderr, "xprobe: the X server has no XFIXES extension\n");
        return 1;
    }
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (image == nullptr) {
        fprintf(stderr, "xprobe: cannot read the cursor\n");
        return 1;
    }
    unsigned long opaque = 0;
    for (unsigned long i = 0; i < static_cast<unsigned long>(image->width) * image->height; ++i)
        if (((image->pixels[i] >> 24) & 0xFF) == 0xFF)
            ++opaque;
    printf("%ux%u %u,%u %lu\n", image->width, image->height, image->xhot, image->yhot, opaque);
    XFree(image);
    return 0;
}

int DesktopWindow(Display* display, const char* className)
{
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                              DisplayWidth(display, screen), DisplayHeight(display, screen), 0, 0,
                                              0x808080);
    const Atom desktop = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DESKTOP", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&desktop), 1);
    XClassHint hint{const_cast<char*>("desktop"), const_cast<char*>(className)};
    XSetClassHint(display, window, &hint);
    XMapWindow(display, window);
    XSync(display, False);
    printf("0x%lx\n", window);
    fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || (strcmp(argv[1], "close") == 0 && argc != 3) || (strcmp(argv[1], "cursor") == 0 && argc != 2) ||
        (strcmp(argv[1], "desktop") == 0 && argc != 3)) {
        fprintf(stderr, "usage: xprobe close WINDOW | xprobe cursor | xprobe desktop CLASS\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        fprintf(stderr, "xprobe: cannot open the display\n");
        return 1;
    }
    int status = 2;
    if (strcmp(argv[1], "close") == 0) {
        char* end = nullptr;
        unsigned long window = strtoul(argv[2], &end, 0);
        if (end == argv[2] || *end != '\0' || window == 0)
            fprintf(stderr, "xprobe: not a window id: %s\n", argv[2]);
        else
            status = CloseWindow(display, static_cast<Window>(window));
    } else if (strcmp(argv[1], "cursor") == 0) {
        status = PrintCursor(display);
    } else if (strcmp(argv[1], "desktop") == 0) {
        status = DesktopWindow(display, argv[2]);
    } else {
        fprintf(stderr, "xprobe: unknown command %s\n", argv[1]);
    }
    XCloseDisplay(display);
    return status;
}
