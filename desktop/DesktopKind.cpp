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
    return DesktopRoad::none;
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
        if (road != DesktopRoad::none)
            return {road, named};
    }
    if (facts.ownPortalWallpaper)
        return {DesktopRoad::portal, named};
    if (wayland)
        return {DesktopRoad::none, name(facts.windowManager.empty() ? "a Wayland compositor" : facts.windowManager)};
    if (facts.desktopWindow) {
        const std::string window = facts.desktopWindowClass.empty()
                                       ? std::string("a desktop window of unknown kind")
                                       : "a desktop window of class " + facts.desktopWindowClass;
        return {DesktopRoad::none, named.empty() ? window : named + " (" + window + ")"};
    }
    return {DesktopRoad::rootWindow, name(facts.windowManager.empty() ? "an X window manager" : facts.windowManager)};
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
    case DesktopRoad::rootWindow:
        return "rootWindow";
    case DesktopRoad::none:
        break;
    }
    return "none";
}

}  // namespace tarnwick
