// The Linux program: frmMain in a Qt window, the wallpaper record in the stand-alone registry.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QScreen>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppError.h"
#include "app/frmMain.h"
#include "app/qt/MainWindow.h"
#include "app/qt/QtPlatform.h"
#include "desktop/StandaloneDesktop.h"
#include "registry/StandaloneRegistry.h"
#include "resources/CursorFile.h"

namespace {

using namespace tarnwick;

const char* programName = "tarnwick";

// The program's path as it can be typed into a shell.
std::string ShellWord(const std::string& text)
{
    if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+-:@%,=") ==
        std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void PrintNoDisplay(const std::string& why)
{
    std::fprintf(stderr,
                 "%s: %s; run it in a desktop session, or under a virtual X server: xvfb-run -a %s\n",
                 programName, why.c_str(), ShellWord(programName).c_str());
}

std::string DisplayName()
{
    const char* x11 = std::getenv("DISPLAY");
    if (x11 != nullptr && *x11 != '\0')
        return x11;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0')
        return wayland;
    return {};
}

// While QApplication connects to the display, Qt's messages are held back: when it cannot
// connect, Qt ends with a fatal message (and an abort), which becomes one line of ours instead.
struct HeldMessage {
    std::string category;
    QString text;
};
std::vector<HeldMessage> heldMessages;
QtMessageHandler previousHandler = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        PrintNoDisplay("cannot open the display \"" + DisplayName() + "\"");
        std::fflush(nullptr);
        std::_Exit(1);
    }
    const char* category = context.category;
    heldMessages.push_back({category != nullptr && std::string_view(category) != "default" ? category : "", text});
}

void ReleaseMessages()
{
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& held : heldMessages)
        std::fprintf(stderr, "%s%s%s\n", held.category.c_str(), held.category.empty() ? "" : ": ",
                     held.text.toLocal8Bit().constData());
    heldMessages.clear();
}

// The error report box: the failure that ended the program, also written to stderr.
void ReportFailure(std::exception_ptr failure, QWidget* parent)
{
    std::string report;
    try {
        std::rethrow_exception(failure);
    } catch (const AppError& error) {
        report = error.Report();
    } catch (const std::exception& error) {
        report = std::string("The program failed unexpectedly.\n\n") + error.what();
    } catch (...) {
        report = "The program failed unexpectedly.";
    }
    std::fprintf(stderr, "%s: %s\n", programName, report.c_str());
    std::fflush(stderr);
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(kProgramTitle), QString::fromStdString(report),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QPixmap LoadPicture()
{
    QPixmap picture(QStringLiteral(":/picture.jpg"));
    if (picture.isNull())
        throw AppError(kErrorInvalidData, "The data is invalid",
                       "The built-in picture could not be read (is Qt's JPEG image plugin installed?).");
    return picture;
}

QCursor LoadHandCursor()
{
    QFile file(QStringLiteral(":/hand.cur"));
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(kErrorInvalidData, "The data is invalid", "The built-in hand cursor could not be read.");
    const QByteArray bytes = file.readAll();
    CursorImage cursor;
    try {
        cursor = ParseCursorFile(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                          static_cast<size_t>(bytes.size())));
    } catch (const std::runtime_error& error) {
        throw AppError(kErrorInvalidData, error.what(), "The built-in hand cursor could not be read.");
    }
    QImage image(reinterpret_cast<const uchar*>(cursor.argb.data()), cursor.width, cursor.height,
                 QImage::Format_ARGB32);
    return QCursor(QPixmap::fromImage(image.copy()), cursor.hotSpotX, cursor.hotSpotY);
}

int LayoutDotsPerInch()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        throw SystemError(ENODEV, "The window cannot be shown: the display has no screen.");
    return static_cast<int>(std::lround(screen->logicalDotsPerInch()));
}

int RunProgram(QApplication& app)
{
    QtVersionQuery versionQuery;
    QtScreenMetrics screen;
    QtMessageBox messageBox;
    QtProgramEnd programEnd;
    try {
        StandaloneRegistry registry(RegistryStorePath());
        StandaloneDesktop desktop(registry);
        Platform platform{versionQuery, screen, registry, desktop, messageBox, programEnd, RunningProgramFolder()};
        frmMain form(platform);
        form.Load();

        MainWindow window(form, LayoutDotsPerInch(), LoadPicture(), LoadHandCursor());
        messageBox.SetParent(&window);
        if (QScreen* primary = QGuiApplication::primaryScreen()) {
            QRect place = window.geometry();
            place.moveCenter(primary->availableGeometry().center());
            window.move(place.topLeft());
        }
        window.show();
        const int status = app.exec();
        if (!window.PendingFailure())
            return status;
        ReportFailure(window.PendingFailure(), &window);
        return 1;
    } catch (...) {
        ReportFailure(std::current_exception(), nullptr);
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 0 && argv[0] != nullptr && *argv[0] != '\0')
        programName = argv[0];
    // Checked before Qt starts, which would otherwise abort with a message of its own.
    if (DisplayName().empty()) {
        PrintNoDisplay("there is no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)");
        return 1;
    }

    previousHandler = qInstallMessageHandler(HoldMessage);
    QApplication app(argc, argv);
    ReleaseMessages();
    app.setWindowIcon(QIcon(QStringLiteral(":/tarnwick.ico")));
    return RunProgram(app);
}
