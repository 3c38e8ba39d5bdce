// Waits, without polling, for the X root window to name a new background pixmap
// (_XROOTPMAP_ID), for bench/run.sh's Run timings.
//
// It prints "ready" once it listens, then the wall-clock time in microseconds (as bash's
// EPOCHREALTIME, without the point) at which the server told it the property changed to another
// pixmap, and exits 0. After TIMEOUT-SECONDS (default 30) without that it prints nothing and
// exits 1. A poller that started a process per look took a core of the machine from the program
// it timed and saw the change a process start late.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <sys/select.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long RootPixmap(Display* display, Window root, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long pixmap = 0;
    if (XGetWindowProperty(display, root, property, 0, 1, False, XA_PIXMAP, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_PIXMAP && format == 32 && count == 1 && data != nullptr)
        pixmap = *reinterpret_cast<long*>(data);
    if (data != nullptr)
        XFree(data);
    return pixmap;
}

long long NowMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

int main(int argc, char** argv)
{
    const long timeout = argc > 1 ? std::atol(argv[1]) : 30;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "root_wait: cannot open the display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    const Atom property = XInternAtom(display, "_XROOTPMAP_ID", False);
    XSelectInput(display, root, PropertyChangeMask);
    // Selected before reading, so that no change between the two is missed.
    const long before = RootPixmap(display, root, property);
    std::printf("ready\n");
    std::fflush(stdout);

    const long long deadline = NowMicroseconds() + timeout * 1000000LL;
    const int fd = ConnectionNumber(display);
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == property) {
                const long long at = NowMicroseconds();
                if (RootPixmap(display, root, property) != before) {
                    std::printf("%lld\n", at);
                    XCloseDisplay(display);
                    return 0;
                }
            }
        }
        const long long left = deadline - NowMicroseconds();
        if (left <= 0)
            break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }
    XCloseDisplay(display);
    return 1;
}
