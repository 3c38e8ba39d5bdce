#include "desktop/DesktopKind.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace tarnwick {

namespace {

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool OneOf(const std::string& value, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), value) != names.end();
}

// The road of a desktop named in XDG_CURRENT_DESKTOP (lower case); none where it is not one we know.
DesktopRoad RoadOfDesktop(const std::string& name, bool ownPortal)
{
    if (OneOf(name, {"gnome", "unity", "ubuntu", "gnome-classic", "gnome-flashback"}))
        return DesktopRoad::portal;
    if (name == "kde")
        return ownPortal ? DesktopRoad::portal : DesktopRoad::plasma;
    if (name == "xfce")
        return DesktopRoad::xfconf;
    if (OneOf(name, {"lxde", "lxqt"}))
        return DesktopRoad::pcmanfm;
    if (name == "mate")
        return DesktopRoad::mate;
    if (OneOf(name, {"x-cinnamon", "cinnamon"}))
        return DesktopRoad::cinnamon;
    if (name == "sway")
        return DesktopRoad::sway;
    return DesktopRoad::none;
}

// What the person can run themselves on a Wayland compositor no road reaches: the tool its own
// documentation names for the background.
std::vector<std::vector<std::string>> OwnCommandsOf(const std::vector<std::string>& desktops)
{
    for (const std::string& desktop : desktops) {
        const std::string name = Lower(desktop);
        if (name == "hyprland")
            return {{"hyprctl", "hyprpaper", "preload", "{}"}, {"hyprctl", "hyprpaper", "wallpaper", ",{}"}};
        if (OneOf(name, {"river", "labwc", "wayfire", "wlroots", "niri"}))
            return {{"swaybg", "-i", "{}", "-m", "stretch"}};
    }
    return {};
}

// The road of the program that drew a desktop window (its WM_CLASS, lower case).
DesktopRoad RoadOfDesktopWindow(const std::string& windowClass, bool ownPortal)
{
    if (windowClass == "xfdesktop")
        return DesktopRoad::xfconf;
    if (OneOf(windowClass, {"pcmanfm", "pcmanfm-qt"}))
        return DesktopRoad::pcmanfm;
    if (windowClass == "caja")
        return DesktopRoad::mate;
    if (OneOf(windowClass, {"nemo-desktop", "nemo"}))
        return DesktopRoad::cinnamon;
    if (windowClass == "plasmashell")
        return ownPortal ? DesktopRoad::portal : DesktopRoad::plasma;
    return DesktopRoad::none;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ":") + name;
    return joined;
}

}  // namespace

DesktopDecision DecideDesktopRoad(const DesktopFacts& facts)
{
    const std::string named = Joined(facts.currentDesktops);
    const std::string windowClass = Lower(facts.desktopWindowClass);
    const bool wayland = Lower(facts.sessionType) == "wayland" || facts.waylandDisplay;
    const auto name = [&](std::string fallback) { return named.empty() ? fallback : named; };

    if (!facts.x11 && !wayland)
        return {DesktopRoad::none, name("no graphical display")};
    // What is drawn over the root window first: that program shows the background.
    if (facts.desktopWindow && !wayland) {
        const DesktopRoad road = RoadOfDesktopWindow(windowClass, facts.ownPortalWallpaper);
        if (road != DesktopRoad::none)
            return {road, name(facts.desktopWindowClass)};
    }
    for (const std::string& desktop : facts.currentDesktops) {
        const DesktopRoad road = RoadOfDesktop(Lower(desktop), facts.ownPortalWallpaper);
        // sway's road is its socket, which only a Wayland session of sway's has.
        if (road == DesktopRoad::sway && !(wayland && facts.swaySocket))
            continue;
        if (road != DesktopRoad::none)
            return {road, named};
    }
    if (facts.ownPortalWallpaper)
        return {DesktopRoad::portal, named};
    if (wayland && facts.swaySocket)
        return {DesktopRoad::sway, name("sway")};
    // A window manager that draws the background itself covers the root window: its desktop's
    // road (the portal only where that desktop's own backend offers it), else the report.
    if (const std::string drawing = DesktopOfWindowManager(facts.windowManager); !drawing.empty() && !wayland) {
        for (const std::string& desktop : SplitCurrentDesktops(drawing)) {
            const DesktopRoad road = RoadOfDesktop(Lower(desktop), facts.windowManagerPortalWallpaper);
            if (road != DesktopRoad::none && (road != DesktopRoad::portal || facts.windowManagerPortalWallpaper))
                return {road, name(facts.windowManager)};
        }
        return {DesktopRoad::none, name(facts.windowManager)};
    }
    if (wayland)
        return {DesktopRoad::none, name(facts.windowManager.empty() ? "a Wayland compositor" : facts.windowManager),
                OwnCommandsOf(facts.currentDesktops)};
    if (facts.desktopWindow) {
        const std::string window = facts.desktopWindowClass.empty()
                                       ? std::string("a desktop window of unknown kind")
                                       : "a desktop window of class " + facts.desktopWindowClass;
        return {DesktopRoad::none, named.empty() ? window : named + " (" + window + ")"};
    }
    return {DesktopRoad::rootWindow, name(facts.windowManager.empty() ? "an X window manager" : facts.windowManager)};
}

std::vector<std::string> SplitCurrentDesktops(std::string_view variable)
{
    std::vector<std::string> names;
    while (!variable.empty()) {
        const size_t colon = variable.find(':');
        const std::string_view part = variable.substr(0, colon);
        if (!part.empty())
            names.emplace_back(part);
        variable = colon == std::string_view::npos ? std::string_view() : variable.substr(colon + 1);
    }
    return names;
}

std::string DesktopOfWindowManager(std::string_view windowManager)
{
    const std::string name = Lower(windowManager);
    const auto has = [&](std::string_view part) { return name.find(part) != std::string::npos; };
    if (has("budgie"))
        return "Budgie:GNOME";
    if (has("gala"))
        return "Pantheon";
    if (has("muffin"))
        return "X-Cinnamon";
    if (has("gnome shell") || has("gnome-shell") || has("mutter"))
        return "GNOME";
    if (has("enlightenment"))
        return "Enlightenment";
    return {};
}

std::string_view RoadName(DesktopRoad road)
{
    switch (road) {
    case DesktopRoad::portal:
        return "portal";
    case DesktopRoad::plasma:
        return "plasma";
    case DesktopRoad::xfconf:
        return "xfconf";
    case DesktopRoad::pcmanfm:
        return "pcmanfm";
    case DesktopRoad::mate:
        return "mate";
    case DesktopRoad::cinnamon:
        return "cinnamon";
    case DesktopRoad::sway:
        return "sway";
    case DesktopRoad::rootWindow:
        return "rootWindow";
    case DesktopRoad::none:
        break;
    }
    return "none";
}

}  // namespace tarnwick
