// The Linux program: frmMain in a Qt window; the page drawn by Qt WebEngine in a process of its
// own (tarnwick-drawer) and handed to the running desktop by its own road; the wallpaper record in
// the stand-alone registry.
#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QTimer>

#include <exception>
#include <utility>

#include "app/frmMain.h"
#include "app/qt/Display.h"
#include "app/qt/MainWindow.h"
#include "app/qt/QtPlatform.h"
#include "desktop/LinuxDesktop.h"
#include "desktop/DesktopBackground.h"
#include "desktop/StandaloneDesktop.h"
#include "desktop/linux/DesktopFacts.h"
#include "desktop/linux/PcmanfmBackground.h"
#include "desktop/linux/GSettingsBackground.h"
#include "desktop/linux/PlasmaBackground.h"
#include "desktop/linux/SwayBackground.h"
#include "desktop/linux/WebPageDrawer.h"
#include "desktop/linux/XfconfBackground.h"
#include "registry/StandaloneRegistry.h"

namespace {

using namespace tarnwick;

int RunProgram(QApplication& app, const char* programName)
{
    QtVersionQuery versionQuery;
    QtScreenMetrics screen;
    QtMessageBox messageBox;
    QtProgramEnd programEnd;
    // Start-up, as on every platform: the window is made (hidden), the load step fills the
    // launcher state, then the window is shown.
    try {
        StandaloneRegistry registry(RegistryStorePath());
        // The drawing process starts once the window is up: by the click, its engine is warm.
        WebPageDrawer drawer(LinuxDrawingProgram(RunningProgramFolder(), WebPageDrawer::kProgramName));
        QTimer::singleShot(0, &app, [&drawer] { drawer.Start(); });
        BackgroundOpeners openers;
        openers.portal = OpenPortalBackground;
        openers.plasma = OpenPlasmaBackground;
        openers.xfconf = OpenXfconfBackground;
        openers.pcmanfm = OpenPcmanfmBackground;
        openers.mate = OpenMateBackground;
        openers.cinnamon = OpenCinnamonBackground;
        openers.sway = OpenSwayBackground;
        openers.rootWindow = OpenRootWindowBackground;
        DesktopSense sense{DecideRunningDesktop, [&registry](const std::string& name) -> std::optional<std::string> {
                               const auto value = registry.QueryValue(HKEY_CURRENT_USER_VALUE, kDesktopKey, name);
                               if (!value || value->type != kRegSz)
                                   return std::nullopt;
                               std::string text(value->data.begin(), value->data.end());
                               if (!text.empty() && text.back() == '\0')
                                   text.pop_back();
                               return text;
                           }};
        LinuxDesktop desktop(registry, drawer, std::move(openers), std::move(sense), LinuxDesktop::DefaultPictureFolder());
        BusyWallpaperShell wallpaper(desktop);
        PageFiles pages = LinuxPageFiles(RunningProgramFolder(), FilePath(RegistryStorePath().parent_path()),
                                         LinuxDesktop::DefaultPictureFolder());
        Platform platform{versionQuery, screen, registry, wallpaper, messageBox, programEnd, std::move(pages)};
        frmMain form(platform);
        MainWindow window(form, screen.DotsPerInch());
        messageBox.SetParent(&window);
        form.Load();
        if (QScreen* primary = QGuiApplication::primaryScreen()) {
            QRect place = window.geometry();
            place.moveCenter(primary->availableGeometry().center());
            window.move(place.topLeft());
        }
        window.show();
        const int status = app.exec();
        if (!window.PendingFailure())
            return status;
        ReportFailure(programName, window.PendingFailure(), &window);
        return 1;
    } catch (...) {
        ReportFailure(programName, std::current_exception(), nullptr);
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const char* programName = argc > 0 && argv[0] != nullptr && *argv[0] != '\0' ? argv[0] : "tarnwick";
    // Checked before Qt starts, which would otherwise abort with a message of its own.
    if (!DisplayIsNamed(programName))
        return 1;
    HoldQtMessages(programName);
    QApplication app(argc, argv);
    ReleaseQtMessages();
    app.setWindowIcon(QIcon(QStringLiteral(":/tarnwick.ico")));
    return RunProgram(app, programName);
}
