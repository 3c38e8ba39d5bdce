#include "app/qt/Display.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/frmMain.h"
#include "base/AppError.h"

namespace tarnwick {

namespace {

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
    std::fprintf(stderr, "%s: %s; run it in a desktop session, or under a virtual X server: xvfb-run -a %s\n",
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

void ReleaseHeld()
{
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& held : heldMessages)
        std::fprintf(stderr, "%s%s%s\n", held.category.c_str(), held.category.empty() ? "" : ": ",
                     held.text.toLocal8Bit().constData());
    heldMessages.clear();
}

}  // namespace

bool DisplayIsNamed(const char* name)
{
    programName = name;
    if (!DisplayName().empty())
        return true;
    PrintNoDisplay("there is no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    return false;
}

void HoldQtMessages(const char* name)
{
    programName = name;
    previousHandler = qInstallMessageHandler(HoldMessage);
}

void ReleaseQtMessages()
{
    ReleaseHeld();
}

void ReportFailure(const char* name, std::exception_ptr failure, QWidget* parent)
{
    const std::string report = FailureReport(failure).Report();
    std::fprintf(stderr, "%s: %s\n", name, report.c_str());
    std::fflush(stderr);
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(kProgramTitle), QString::fromStdString(report),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace tarnwick
