#include "desktop/linux/WebPageDrawer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QLoggingCategory>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/AppError.h"

namespace tarnwick {

namespace {

constexpr char kFrameToken[] = "tarnwick: frame drawn";

AppError DrawFailure(uint32_t number, const FilePath& page, const std::string& why)
{
    return AppError(number, DescribeSystemError(number),
                    "The page " + page.ToUtf8() + " could not be drawn for the desktop: " + why);
}

class LocalOnly : public QWebEngineUrlRequestInterceptor {
public:
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QString scheme = info.requestUrl().scheme();
        if (scheme != QLatin1String("file") && scheme != QLatin1String("data") && scheme != QLatin1String("qrc"))
            info.block(true);
    }
};

// Tells when the page has drawn a frame: the script it is handed logs the token from the
// second animation frame after the load, by which time a frame has been presented.
class DrawingPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;
    bool framed = false;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) override
    {
        if (message == QLatin1String(kFrameToken))
            framed = true;
    }
};

// Runs the event loop until done() or the deadline; false when the deadline came first.
template <class Done>
bool WaitUntil(Done done, const QDeadlineTimer& deadline)
{
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

std::string PngBytes(const QImage& image, const std::string& what)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        throw AppError(kErrorUnexpected, DescribeSystemError(kErrorUnexpected),
                       "The " + what + " could not be encoded as PNG (is Qt's PNG support there?).");
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

PixelSize WebPageDrawer::ScreenSize()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        throw SystemError(ENODEV, "The screen size could not be read: the display has no screen.");
    const qreal ratio = screen->devicePixelRatio();
    return PixelSize{static_cast<int>(std::lround(screen->geometry().width() * ratio)),
                     static_cast<int>(std::lround(screen->geometry().height() * ratio))};
}

std::string WebPageDrawer::DrawPage(const FilePath& page, PixelSize size)
{
    const QDeadlineTimer deadline(bound_.count());
    char boundText[32];
    std::snprintf(boundText, sizeof boundText, "%.1f s", static_cast<double>(bound_.count()) / 1000.0);

    // Off the record: nothing of the page is kept on disk. Destroyed after the view and its page.
    QWebEngineProfile profile;
    // Local content may not reach remote addresses; whatever still asks for one is denied here.
    LocalOnly interceptor;
    profile.setUrlRequestInterceptor(&interceptor);
    QWebEngineSettings* settings = profile.settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);

    QWebEngineView view;
    auto* drawing = new DrawingPage(&profile, &view);
    view.setPage(drawing);
    // WebEngine maps its window even with WA_DontShowOnScreen, so it goes far off the screen,
    // past the window manager, and takes neither focus nor input.
    view.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                        Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.setWindowTitle(QStringLiteral("Tarnwick: drawing the page"));
    const qreal ratio = view.devicePixelRatioF();
    view.resize(
        QSize(static_cast<int>(std::lround(size.width / ratio)), static_cast<int>(std::lround(size.height / ratio))));
    view.move(-4 * view.width() - 10000, -4 * view.height() - 10000);
    view.show();

    enum class Load { Running, Done, Failed } load = Load::Running;
    std::string rendererGone;
    QObject::connect(drawing, &QWebEnginePage::loadFinished, [&](bool ok) { load = ok ? Load::Done : Load::Failed; });
    QObject::connect(drawing, &QWebEnginePage::renderProcessTerminated,
                     [&](QWebEnginePage::RenderProcessTerminationStatus, int code) {
                         rendererGone = "its renderer process ended (status " + std::to_string(code) + ").";
                     });
    drawing->load(QUrl::fromEncoded(QByteArray::fromStdString(page.FileUri()), QUrl::StrictMode));

    if (!WaitUntil([&] { return load != Load::Running || !rendererGone.empty(); }, deadline))
        throw DrawFailure(ETIMEDOUT, page, std::string("it did not finish loading within ") + boundText + ".");
    if (!rendererGone.empty())
        throw DrawFailure(ECHILD, page, rendererGone);
    if (load == Load::Failed)
        throw DrawFailure(EIO, page, "it failed to load (a missing or unreadable file?).");

    drawing->runJavaScript(
        QStringLiteral("requestAnimationFrame(() => requestAnimationFrame(() => console.log('%1')));")
            .arg(QLatin1String(kFrameToken)));
    if (!WaitUntil([&] { return drawing->framed || !rendererGone.empty(); }, deadline))
        throw DrawFailure(ETIMEDOUT, page, std::string("it loaded but drew no frame within ") + boundText + ".");
    if (!rendererGone.empty())
        throw DrawFailure(ECHILD, page, rendererGone);

    QImage image = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (image.width() != size.width || image.height() != size.height)
        image = image.scaled(size.width, size.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return PngBytes(image, "page's picture");
}

std::string WebPageDrawer::PlainPicture(PixelSize size)
{
    QImage image(size.width, size.height, QImage::Format_RGB32);
    image.fill(Qt::black);
    return PngBytes(image, "plain picture");
}

void PrepareWebEngine()
{
    if (::geteuid() == 0 && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    if (std::getenv("QTWEBENGINE_CHROMIUM_FLAGS") == nullptr)
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // WebEngine's start-up notes ("Sandboxing disabled by user.", its GL set-up) are not ours to show.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\ndefault.info=false"));
}

}  // namespace tarnwick
