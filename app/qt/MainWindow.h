// frmMain's window on Qt: a black, frameless, fixed-size panel painted from the layout table,
// forwarding mouse presses and releases to the core.
#pragma once

#include <QCursor>
#include <QPixmap>
#include <QWidget>

#include <exception>

#include "app/frmMain.h"

namespace tarnwick {

class MainWindow : public QWidget {
public:
    // Lays itself out at the display's dots per inch and loads its picture and hand cursor from
    // the program's resources; throws AppError when one cannot be read. Still hidden.
    MainWindow(frmMain& form, int dotsPerInch);

    // The failure a command raised; the event loop has been told to quit with status 1.
    std::exception_ptr PendingFailure() const { return failure_; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ForwardMouse(QMouseEvent* event, bool press);
    void UpdateCursor(QPointF position);

    frmMain& form_;
    int dotsPerInch_;
    QPixmap picture_;
    QCursor hand_;
    bool handShown_ = false;
    std::exception_ptr failure_;
};

}  // namespace tarnwick
