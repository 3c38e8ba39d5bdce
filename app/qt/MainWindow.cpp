#include "app/qt/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEnterEvent>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <cmath>

#include "app/Layout.h"

namespace tarnwick {

namespace {
QRect ToQRect(const PixelRect& rect)
{
    return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

MouseButton ToMouseButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return MouseButton::Left;
    case Qt::RightButton:
        return MouseButton::Right;
    default:
        return MouseButton::Other;
    }
}

// Window pixels, as the core hit-tests them: the pixel the point lies in.
int PixelOf(qreal coordinate)
{
    return static_cast<int>(std::floor(coordinate));
}
}  // namespace

MainWindow::MainWindow(frmMain& form, int dotsPerInch, QPixmap picture, QCursor hand)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      form_(form),
      dotsPerInch_(dotsPerInch),
      picture_(std::move(picture)),
      hand_(std::move(hand))
{
    setWindowTitle(QString::fromStdU16String(kProgramTitle));
    setFixedSize(FormWidthPixels(dotsPerInch_), FormHeightPixels(dotsPerInch_));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

bool MainWindow::event(QEvent* event)
{
    // The mouse went elsewhere between a press and its release (another window took the focus
    // or the grab): the release that may still arrive must not count as a click.
    switch (event->type()) {
    case QEvent::WindowDeactivate:
    case QEvent::FocusOut:
    case QEvent::UngrabMouse:
        form_.CancelPress();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void MainWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);

    // No system colour index here: the desktop theme's highlight stands in for the lines' colour.
    const QColor lineColour = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    const QColor textColour = QColor::fromRgb(kLabelTextRgb);
    QFont font{QString::fromStdU16String(kLabelFontFace)};
    // The size in pixels at the layout's own dpi, so text and layout scale together.
    font.setPixelSize(static_cast<int>(std::lround(kLabelFontPoints * dotsPerInch_ / 72.0)));
    font.setWeight(static_cast<QFont::Weight>(kLabelFontWeight));

    for (const Control& control : Controls()) {
        const QRect area = ToQRect(ControlPixels(control, dotsPerInch_));
        switch (control.kind) {
        case ControlKind::Line:
            painter.fillRect(area, lineColour);
            break;
        case ControlKind::Picture:
            painter.drawPixmap(area.topLeft(), picture_);
            break;
        case ControlKind::Label: {
            painter.save();
            painter.setClipRect(area);
            painter.setFont(font);
            painter.setPen(textColour);
            const int align = control.align == TextAlign::Centre ? Qt::AlignHCenter : Qt::AlignLeft;
            painter.drawText(area, Qt::AlignTop | Qt::TextSingleLine | align,
                             QString::fromStdU16String(std::u16string(control.caption)));
            painter.restore();
            break;
        }
        }
    }
}

void MainWindow::ForwardMouse(QMouseEvent* event, bool press)
{
    event->accept();
    if (failure_)
        return;
    const MouseButton button = ToMouseButton(event->button());
    const int x = PixelOf(event->position().x());
    const int y = PixelOf(event->position().y());
    // A command's failure must not unwind through Qt: it is kept for main to report.
    try {
        if (press)
            form_.MouseDown(button, x, y, dotsPerInch_);
        else
            form_.MouseUp(button, x, y, dotsPerInch_);
    } catch (...) {
        failure_ = std::current_exception();
        QCoreApplication::exit(1);
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    ForwardMouse(event, true);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event)
{
    ForwardMouse(event, false);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    UpdateCursor(event->position());
}

void MainWindow::enterEvent(QEnterEvent* event)
{
    UpdateCursor(event->position());
}

void MainWindow::UpdateCursor(QPointF position)
{
    const bool hand = ShowsHandCursor(ControlAt(PixelOf(position.x()), PixelOf(position.y()), dotsPerInch_));
    if (hand == handShown_)
        return;
    handShown_ = hand;
    if (hand)
        setCursor(hand_);
    else
        setCursor(Qt::ArrowCursor);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void MainWindow::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closed from outside: the program ends with nothing changed. A Support box still open has
    // its own event loop, which this ends as well.
    event->accept();
    if (!failure_)
        QCoreApplication::exit(0);
}

}  // namespace tarnwick
