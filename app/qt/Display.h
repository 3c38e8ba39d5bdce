// Connecting the Linux program to a display, with one line of ours instead of Qt's abort when
// there is none, and the error report box.
#pragma once

#include <exception>

class QApplication;
class QWidget;

namespace tarnwick {

// True when a display is named; otherwise says so on stderr, with the xvfb-run hint.
bool DisplayIsNamed(const char* programName);

// While QApplication connects to the display, Qt's messages are held back: when it cannot
// connect, Qt ends with a fatal message, which becomes one line of ours and exit status 1.
void HoldQtMessages(const char* programName);
void ReleaseQtMessages();

// The error report: the failure that ended the program, in a box and on stderr.
void ReportFailure(const char* programName, std::exception_ptr failure, QWidget* parent);

}  // namespace tarnwick
