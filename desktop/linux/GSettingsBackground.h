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

// GNOME: picture-uri (a file:// URI) and the keys GNOME's portal writes beside it, which GNOME
// Shell follows. Null where the schema org.gnome.desktop.background is not installed. The portal
// road reads and gives back GNOME's background through it.
std::unique_ptr<IDesktopBackground> OpenGnomeBackgroundSettings();

}  // namespace tarnwick
