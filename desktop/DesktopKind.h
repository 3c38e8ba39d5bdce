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
    sway,        // sway: its IPC socket ($SWAYSOCK), which has swaybg draw the background
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
    bool swaySocket = false;                   // SWAYSOCK names sway's IPC socket
    bool windowManagerPortalWallpaper = false;  // the same for the desktop the window manager
                                                // belongs to (DesktopOfWindowManager)
};

struct DesktopDecision {
    DesktopRoad road = DesktopRoad::none;
    std::string desktop;  // the desktop's name for reports: "XFCE", "sway", "a window of class Foo"
    // Where no road reaches the desktop: the commands its own tool takes to show a picture, each
    // an argument list in which "{}" stands for the picture's path; empty where none is known.
    std::vector<std::vector<std::string>> ownCommands{};
};

DesktopDecision DecideDesktopRoad(const DesktopFacts& facts);

// XDG_CURRENT_DESKTOP's names: a list separated by ':' ("Budgie:GNOME"), empty names dropped.
std::vector<std::string> SplitCurrentDesktops(std::string_view variable);

// The desktop (as XDG_CURRENT_DESKTOP would name it) whose window manager draws the background
// itself, by the window manager's _NET_WM_NAME: "GNOME" for GNOME Shell and Mutter, "Pantheon"
// for Gala, "Budgie:GNOME" for Budgie's, "X-Cinnamon" for Muffin, "Enlightenment"; empty for a
// window manager that leaves the root window to whoever sets it.
std::string DesktopOfWindowManager(std::string_view windowManager);

// The road's name as the saved state and the tests spell it: "portal", "xfconf", ...
std::string_view RoadName(DesktopRoad road);

}  // namespace tarnwick
