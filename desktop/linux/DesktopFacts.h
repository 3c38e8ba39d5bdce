// What the running desktop is, as the environment, the X server and the portal's backend files
// tell it; DecideDesktopRoad (desktop/DesktopKind.h) decides the road from it.
#pragma once

#include <string>

#include "desktop/DesktopKind.h"

namespace tarnwick {

// XDG_CURRENT_DESKTOP, XDG_SESSION_TYPE, WAYLAND_DISPLAY and SWAYSOCK; on the X display DISPLAY names, a
// mapped _NET_WM_WINDOW_TYPE_DESKTOP window among the root's children (and theirs, for window
// managers that frame it) and the window manager's _NET_WM_NAME; and whether the portal backend
// that belongs to the running desktop, and the one of the desktop whose window manager runs,
// offers the wallpaper interface (PortalBackendOffersWallpaper).
DesktopFacts GatherDesktopFacts();

// The running desktop's road, from the facts above.
DesktopDecision DecideRunningDesktop();

}  // namespace tarnwick
