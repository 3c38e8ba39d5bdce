#include "desktop/linux/DesktopFacts.h"

// Before X11's headers, whose macros (Bool, Status) Qt's would meet.
#include "desktop/linux/PortalBackground.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

namespace tarnwick {

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The property's items (32-bit ones as unsigned long, 8-bit ones as bytes); empty where missing.
std::vector<unsigned long> Property32(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(display, window, property, 0, 64, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data != nullptr)
        XFree(data);
    return items;
}

std::string PropertyText(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, window, property, 0, 256, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 8)
        text.assign(reinterpret_cast<const char*>(data), count);
    if (data != nullptr)
        XFree(data);
    return text;
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;  // a window that went away while we looked is simply not there
}

class X11Facts {
public:
    explicit X11Facts(Display* display)
        : display_(display), type_(XInternAtom(display, "_NET_WM_WINDOW_TYPE", False)),
          desktop_(XInternAtom(display, "_NET_WM_WINDOW_TYPE_DESKTOP", False))
    {
    }

    void Gather(DesktopFacts& facts)
    {
        const Window root = DefaultRootWindow(display_);
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        const std::vector<unsigned long> wm = Property32(display_, root, check, XA_WINDOW);
        if (!wm.empty())
            facts.windowManager =
                PropertyText(display_, wm[0], XInternAtom(display_, "_NET_WM_NAME", False),
                             XInternAtom(display_, "UTF8_STRING", False));
        FindDesktopWindow(root, 0, facts);
    }

private:
    bool IsDesktopWindow(Window window) const
    {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display_, window, &attributes) || attributes.map_state != IsViewable)
            return false;
        for (unsigned long type : Property32(display_, window, type_, XA_ATOM))
            if (type == desktop_)
                return true;
        return false;
    }

    // The root's children, and their children where a window manager framed them.
    bool FindDesktopWindow(Window parent, int depth, DesktopFacts& facts)
    {
        Window rootReturn = 0;
        Window parentReturn = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, parent, &rootReturn, &parentReturn, &children, &count))
            return false;
        bool found = false;
        for (unsigned int i = 0; i < count && !found; ++i) {
            if (IsDesktopWindow(children[i])) {
                found = true;
                facts.desktopWindow = true;
                XClassHint hint{};
                if (XGetClassHint(display_, children[i], &hint)) {
                    facts.desktopWindowClass = hint.res_class && *hint.res_class ? hint.res_class
                                               : hint.res_name                   ? hint.res_name
                                                                                 : "";
                    if (hint.res_name)
                        XFree(hint.res_name);
                    if (hint.res_class)
                        XFree(hint.res_class);
                }
            } else if (depth == 0) {
                found = FindDesktopWindow(children[i], 1, facts);
            }
        }
        if (children != nullptr)
            XFree(children);
        return found;
    }

    Display* display_;
    Atom type_;
    Atom desktop_;
};

}  // namespace

DesktopFacts GatherDesktopFacts()
{
    DesktopFacts facts;
    facts.currentDesktops = SplitCurrentDesktops(Env("XDG_CURRENT_DESKTOP"));
    facts.sessionType = Env("XDG_SESSION_TYPE");
    facts.waylandDisplay = !Env("WAYLAND_DISPLAY").empty();
    facts.swaySocket = !Env("SWAYSOCK").empty();
    facts.ownPortalWallpaper = PortalBackendOffersWallpaper(Env("XDG_CURRENT_DESKTOP"));
    if (!Env("DISPLAY").empty()) {
        if (Display* display = XOpenDisplay(nullptr)) {
            facts.x11 = true;
            XErrorHandler previous = XSetErrorHandler(IgnoreErrors);
            X11Facts(display).Gather(facts);
            XSync(display, False);
            XSetErrorHandler(previous);
            XCloseDisplay(display);
        }
    }
    if (const std::string drawing = DesktopOfWindowManager(facts.windowManager); !drawing.empty())
        facts.windowManagerPortalWallpaper = PortalBackendOffersWallpaper(drawing);
    return facts;
}

DesktopDecision DecideRunningDesktop()
{
    return DecideDesktopRoad(GatherDesktopFacts());
}

}  // namespace tarnwick
