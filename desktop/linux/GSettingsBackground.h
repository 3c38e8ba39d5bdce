// MATE's and Cinnamon's desktop backgrounds: the GSettings keys their own settings tools write
// (org.mate.background, org.cinnamon.desktop.background), which the running desktop (caja,
// nemo-desktop, cinnamon) follows and redraws at once. Written through GIO's GSettings, so they
// reach the user's settings store (dconf) as those tools' changes do.
#pragma once

#include <memory>

#include "desktop/DesktopBackground.h"

namespace tarnwick {

// MATE: picture-filename (a path), picture-options "stretched", draw-background true. Null where
// the schema org.mate.background is not installed.
std::unique_ptr<IDesktopBackground> OpenMateBackground();

// Cinnamon: picture-uri (a file:// URI), picture-options "stretched". Null where the schema
// org.cinnamon.desktop.background is not installed.
std::unique_ptr<IDesktopBackground> OpenCinnamonBackground();

}  // namespace tarnwick
