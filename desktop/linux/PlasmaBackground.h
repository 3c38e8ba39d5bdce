// KDE Plasma's desktop background through its documented desktop scripting: a script handed to
// org.kde.PlasmaShell /PlasmaShell evaluateScript on the session bus sets every desktop's
// wallpaper plugin to the image one and its picture; plasmashell draws it at once, on X11 and
// Wayland alike. The script prints what it read back, so every change is checked. Needs a
// running QCoreApplication.
#pragma once

#include <memory>
#include <string>

#include <QString>

#include "desktop/DesktopBackground.h"

namespace tarnwick {

// Null where org.kde.PlasmaShell is not on the session bus (no session bus, or no plasmashell).
std::unique_ptr<IDesktopBackground> OpenPlasmaBackground();

// text as a JavaScript string literal in double quotes: every character outside printable ASCII,
// the quote and the backslash escaped, so no text can end the literal or the line.
QString JavaScriptString(const QString& text);

}  // namespace tarnwick
