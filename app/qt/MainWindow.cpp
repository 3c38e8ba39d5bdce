#include "app/qt/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEnterEvent>
#include <QFile>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QImage>

#include <cmath>
#include <span>
#include <stdexcept>
#include <string>

#include "app/Layout.h"
#include "app/Painter.h"
#include "app/qt/QtPlatform.h"
#include "base/AppError.h"
#include "resources/CursorFile.h"

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

QPixmap LoadPicture()
{
    QPixmap picture(QStringLiteral(":/picture.jpg"));
    if (picture.isNull())
        throw SystemError(kErrorBadData,
                          "The built-in picture could not be read (is Qt's JPEG image plugin installed?).");
    return picture;
}

QCursor LoadHandCursor()
{
    QFile file(QStringLiteral(":/hand.cur"));
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(kErrorBadData, "The built-in hand cursor could not be read.");
    const QByteArray bytes = file.readAll();
    CursorImage cursor;
    try {
        cursor = ParseCursorFile(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                          static_cast<size_t>(bytes.size())));
    } catch (const std::runtime_error& error) {
        throw AppError(kErrorBadData, error.what(), "The built-in hand cursor could not be read.");
    }
    QImage image(reinterpret_cast<const uchar*>(cursor.argb.data()), cursor.width, cursor.height,
                 QImage::Format_ARGB32);
    return QCursor(QPixmap::fromImage(image.copy()), cursor.hotSpotX, cursor.hotSpotY);
}

// The painter's primitives on a QPainter.
class QtCanvas : public ICanvas {
public:
    QtCanvas(QPainter& painter, const QPixmap& picture, int dotsPerInch)
        : painter_(painter), picture_(picture),
          // No system colour index here: the desktop theme's highlight stands in for the lines'.
          lineColour_(QApplication::palette().color(QPalette::Active, QPalette::Highlight)),
          font_(QString::fromStdU16String(kLabelFontFace))
    {
        // The size in pixels at the layout's own dpi, so text and layout scale together.
        font_.setPixelSize(static_cast<int>(std::lround(kLabelFontPoints * dotsPerInch / 72.0)));
        font_.setWeight(static_cast<QFont::Weight>(kLabelFontWeight));
    }

    void Line(const PixelRect& area) override { painter_.fillRect(ToQRect(area), lineColour_); }

    void Picture(const PixelRect& area) override { painter_.drawPixmap(area.left, area.top, picture_); }

    void Label(const PixelRect& area, std::u16string_view caption, TextAlign align) override
    {
        const QRect rect = ToQRect(area);
        painter_.save();
        painter_.setClipRect(rect);
        painter_.setFont(font_);
        painter_.setPen(QColor::fromRgb(kLabelTextRgb));
        painter_.drawText(
            rect, Qt::AlignTop | Qt::TextSingleLine | (align == TextAlign::Centre ? Qt::AlignHCenter : Qt::AlignLeft),
            QString::fromStdU16String(std::u16string(caption)));
        painter_.restore();
    }

private:
    QPainter& painter_;
    const QPixmap& picture_;
    QColor lineColour_;
    QFont font_;
};
}  // namespace

MainWindow::MainWindow(frmMain& form, int dotsPerInch)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), form_(form), dotsPerInch_(dotsPerInch),
      picture_(LoadPicture()), hand_(LoadHandCursor())
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
    QtCanvas canvas(painter, picture_, dotsPerInch_);
    PaintForm(canvas, dotsPerInch_);
}

void MainWindow::ForwardMouse(QMouseEvent* event, bool press)
{
    event->accept();
    // A command waits in nested event loops (the page being drawn, the desktop answering):
    // clicks meanwhile must not enter the core again.
    if (failure_ || BusyWallpaperShell::Busy())
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
    // its own event loop, which this ends as well. While a command runs, the request is refused:
    // the command ends the program itself.
    if (BusyWallpaperShell::Busy()) {
        event->ignore();
        return;
    }
    event->accept();
    if (!failure_)
        QCoreApplication::exit(0);
}

}  // namespace tarnwick
