// What the end-to-end tests need of X that xdotool does not offer:
//   xprobe close WINDOW   asks the window to close, as a window manager does (WM_DELETE_WINDOW)
//   xprobe cursor         prints the pointer's cursor: "WIDTHxHEIGHT HOTX,HOTY OPAQUE" where
//                         OPAQUE counts the pixels with full alpha
#include <X11/Xatom.h>
#include <X11/Xlib.h>
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || (strcmp(argv[1], "close") == 0 && argc != 3) || (strcmp(argv[1], "cursor") == 0 && argc != 2)) {
        fprintf(stderr, "usage: xprobe close WINDOW | xprobe cursor\n");
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
    } else {
        fprintf(stderr, "xprobe: unknown command %s\n", argv[1]);
    }
    XCloseDisplay(display);
    return status;
}
