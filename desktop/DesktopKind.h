// Which road leads to the background of the desktop the person runs. The facts are gathered
// elsewhere (desktop/linux/ asks the environment, the X server and the portal's backend files);
// this decides from them alone, so the running desktop decides, not whatever answers first on the
// bus: xdg-desktop-portal 1.16 lets any installed backend answer for a desktop that has none of
// its own, and GNOME's would then change GNOME's settings on an Xfce screen.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum class DesktopRoad {
    portal,      // org.freedesktop.portal.Wallpaper, where the desktop's own backend offers it
    plasma,      // KDE Plasma's desktop scripting (before Plasma's backend offers the wallpaper)
    xfconf,      // Xfce: xfdesktop's settings
    pcmanfm,     // LXDE and LXQt: the running pcmanfm / pcmanfm-qt desktop
    mate,        // MATE: its GSettings
    cinnamon,    // Cinnamon: its GSettings
    rootWindow,  // a plain X window manager: the root window
    none,        // a desktop no road reaches: the person sets the picture themselves
};

struct DesktopFacts {
    std::vector<std::string> currentDesktops;  // XDG_CURRENT_DESKTOP split on ':', as given
    std::string sessionType;                   // XDG_SESSION_TYPE
    bool waylandDisplay = false;               // WAYLAND_DISPLAY names a compositor
    bool x11 = false;                          // an X11 display is reachable
    bool desktopWindow = false;                // a _NET_WM_WINDOW_TYPE_DESKTOP window is mapped
    std::string desktopWindowClass;            // its WM_CLASS (class, else instance), may be empty
    std::string windowManager;                 // _NET_SUPPORTING_WM_CHECK -> _NET_WM_NAME
    bool ownPortalWallpaper = false;           // a portal backend meant for one of currentDesktops
                                               // offers org.freedesktop.impl.portal.Wallpaper
};

struct DesktopDecision {
    DesktopRoad road = DesktopRoad::none;
    std::string desktop;  // the desktop's name for reports: "XFCE", "sway", "a window of class Foo"
};

DesktopDecision DecideDesktopRoad(const DesktopFacts& facts);

// The road's name as the saved state and the tests spell it: "portal", "xfconf", ...
std::string_view RoadName(DesktopRoad road);

}  // namespace tarnwick
