#include "desktop/linux/PageEngine.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QLoggingCategory>
#include <QPixmap>
#include <QPointer>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include "base/StageClock.h"
#include "desktop/linux/DrawingExchange.h"
#include "desktop/linux/FastPng.h"

namespace tarnwick {

namespace {

// Appended to the person's own QTWEBENGINE_CHROMIUM_FLAGS; a later switch wins over an earlier
// one of the same name. Software drawing works on every machine. Every host name, and every
// address written as one, resolves to nothing, so WebSocket and whatever else the request
// interceptor does not see cannot connect; WebRTC may send UDP only through a proxy and there is
// none. The rest keeps the process tree small: one renderer, no background networking.
constexpr char kEngineFlags[] =
    "--disable-gpu"
    " --host-resolver-rules=\"MAP * ~NOTFOUND\""
    " --force-webrtc-ip-handling-policy=disable_non_proxied_udp"
    " --disable-background-networking"
    " --renderer-process-limit=1";

// Run in the program's own script world, where the page's redefinitions of
// requestAnimationFrame, console or anything else are not seen. Each request's document is
// numbered as it is made (kNumber), so no earlier document is taken for it, and an error page is
// no file; in the page's own document the check (kDrawn) answers 0 until it has loaded, 1 while
// round %2 waits for its fonts and two animation frames, then 2. Round 0 is the page's own
// finish; each later round gives the engine two more frames to deliver what it drew. A round
// left early still has its frames coming: they finish that round, not the one after it.
constexpr char kNumber[] = "window.tarnwickRequest = %1;";
constexpr char kDrawn[] =
    "(() => { if (window.tarnwickRequest !== %1 || location.protocol !== 'file:'"
    " || document.readyState !== 'complete') return 0;"
    " if (window.tarnwickRound !== %2) { const frame = window.requestAnimationFrame.bind(window);"
    " window.tarnwickRound = %2;"
    " document.fonts.ready.then(() => frame(() => frame(() => { window.tarnwickDrawn = %2; }))); }"
    " return window.tarnwickDrawn === %2 ? 2 : 1; })()";

AppError Failure(int number, const std::string& why)
{
    return AppError(static_cast<uint32_t>(number), DescribeSystemError(static_cast<uint32_t>(number)), why);
}

std::string BoundText(std::chrono::milliseconds bound)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(bound.count()) / 1000.0);
    return text;
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

// Runs the event loop until done() or the deadline; false when the deadline came first.
template <class Done>
bool WaitUntil(Done done, const QDeadlineTimer& deadline)
{
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The bytes, the first of them carrying a copy of the file descriptor.
bool WriteWithDescriptor(int socket, const std::string& bytes, int descriptor)
{
    char control[CMSG_SPACE(sizeof(int))] = {};
    iovec part{const_cast<char*>(bytes.data()), 1};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
    ssize_t sent;
    do
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == 1 && WriteAll(socket, bytes.substr(1));
}

}  // namespace

void PrepareDrawingEngine()
{
    if (::geteuid() == 0 && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    const char* own = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    std::string flags = own != nullptr && own[0] != '\0' ? std::string(own) + " " + kEngineFlags : kEngineFlags;
    // Without the sandbox, a renderer process of its own guards nothing this process does not:
    // the page is drawn in this process (three processes and some 70 MiB fewer), which is itself
    // apart from the panel. Chromium's notes on that mode are not ours to show.
    const char* noSandbox = std::getenv("QTWEBENGINE_DISABLE_SANDBOX");
    if ((noSandbox != nullptr && noSandbox[0] != '\0' && std::strcmp(noSandbox, "0") != 0) ||
        flags.find("--no-sandbox") != std::string::npos)
        flags += " --single-process --log-level=3";
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
    // No display at all: nothing this process makes can be shown anywhere. One device pixel a
    // pixel; the screen's scale is the page's zoom.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const char* scale : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                              "QT_ENABLE_HIGHDPI_SCALING", "QT_FONT_DPI", "QT_DEVICE_PIXEL_RATIO"})
        ::unsetenv(scale);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The view's frame goes through Qt Quick's software renderer, and the offscreen platform
    // makes no OpenGL context: WebEngine draws in software anyway, and an OpenGL context (Mesa's
    // software renderer, its LLVM) only added its code and a copy of every frame in its textures,
    // some 60 MiB, for the same pixels.
    ::setenv("QT_QPA_OFFSCREEN_NO_GLX", "1", 1);
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Start-up notes ("Sandboxing disabled by user.", the offscreen platform's) are not ours to show.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.webenginecontext.info=false\ndefault.info=false\nqt.qpa.*=false\ndefault.warning=false"));
}

struct PageEngine::Parts {
    // Off the record: nothing of the page is kept on disk. Destroyed after the view and its page.
    QWebEngineProfile profile;
    LocalOnly interceptor;
    QWebEngineView view;
    QWebEnginePage* page = nullptr;
    enum class Load { Running, Failed } load = Load::Running;
    std::string rendererGone;
    QUrl asked;
    int requests = 0;
    // Frames the view has shown, counted from the engine's delegate widgets (a renderer may make
    // a new one).
    std::vector<QPointer<QQuickWidget>> watched;
    long shown = 0;
    // The memory for the next frame, made while nothing is asked (some 40 ms of a processor at
    // 3840x2160, which a page that loads meanwhile would wait for), and its size.
    std::future<std::unique_ptr<SharedFrame>> nextFrame;
    QSize nextFrameSize;

    // The memory for a frame of that size: the one made ahead where it fits, else made now.
    std::future<std::unique_ptr<SharedFrame>> FrameMemory(int width, int height)
    {
        if (nextFrame.valid() && nextFrameSize == QSize(width, height))
            return std::move(nextFrame);
        nextFrame = {};
        return std::async(std::launch::async, [width, height] { return std::make_unique<SharedFrame>(width, height); });
    }

    void Watch()
    {
        for (QQuickWidget* delegate : view.findChildren<QQuickWidget*>()) {
            bool known = false;
            for (const QPointer<QQuickWidget>& w : watched)
                known = known || w == delegate;
            if (known || delegate->quickWindow() == nullptr)
                continue;
            watched.emplace_back(delegate);
            QObject::connect(delegate->quickWindow(), &QQuickWindow::afterRendering, delegate, [this] { ++shown; });
        }
    }
};

PageEngine::PageEngine(int width, int height) : parts_(std::make_unique<Parts>())
{
    Parts& p = *parts_;
    p.profile.setUrlRequestInterceptor(&p.interceptor);
    QWebEngineSettings* settings = p.profile.settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);

    p.page = new QWebEnginePage(&p.profile, &p.view);
    p.view.setPage(p.page);
    // A failed load of the page asked for is the failure; a page that navigates itself elsewhere
    // is denied that (a failed load of another address) and is drawn as it is.
    QObject::connect(p.page, &QWebEnginePage::loadingChanged, [&p](const QWebEngineLoadingInfo& info) {
        if (info.url() != p.asked || info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            return;
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            p.load = Parts::Load::Failed;
    });
    QObject::connect(p.page, &QWebEnginePage::renderProcessTerminated,
                     [&p](QWebEnginePage::RenderProcessTerminationStatus, int code) {
                         p.rendererGone = "its renderer process ended (status " + std::to_string(code) + ").";
                     });
    // On the offscreen platform the window exists only in this process. At the screen's size
    // from the start: a page drawn just after a resize may be grabbed before its first frame at
    // the new size has reached the window.
    p.view.resize(width, height);
    p.view.show();
    // The renderer starts now, so a request pays only for its page. Until the empty page is
    // there, the page has no document to run the program's scripts in.
    bool blank = false;
    QObject::connect(p.page, &QWebEnginePage::loadFinished, [&blank] { blank = true; });
    p.page->setUrl(QUrl(QStringLiteral("about:blank")));
    WaitUntil([&] { return blank || !p.rendererGone.empty(); }, QDeadlineTimer(10000));
    QObject::disconnect(p.page, &QWebEnginePage::loadFinished, nullptr, nullptr);
    // Then it rests hidden, as between pages: hidden only once a page is asked for, the view
    // would draw a frame at the screen's size while the page loads (some 35 ms at 3840x2160).
    p.page->setVisible(false);
    p.nextFrame = p.FrameMemory(width, height);
    p.nextFrameSize = QSize(width, height);
}

PageEngine::~PageEngine() = default;

std::unique_ptr<SharedFrame> PageEngine::Draw(const std::string& fileUri, int width, int height, double ratio,
                                              std::chrono::milliseconds bound)
{
    Parts& p = *parts_;
    StageClock clock;
    const QDeadlineTimer deadline(bound.count());
    // The memory for the frame, made ahead or meanwhile.
    std::future<std::unique_ptr<SharedFrame>> memory = p.FrameMemory(width, height);
    // The page loads hidden and is shown once its document is complete: drawn while it still
    // loads, the engine would keep the tiles of the half-made page besides those of the finished
    // one (at 3840x2160 a second 34 MiB set, counted twice as the renderer and the compositor
    // each map it), in about one Run of two.
    p.page->setVisible(false);
    if (p.view.size() != QSize(width, height))
        p.view.resize(width, height);
    p.page->setZoomFactor(ratio);
    const QString number = QString::number(++p.requests);
    p.page->scripts().clear();
    QWebEngineScript numbering;
    numbering.setSourceCode(QString::fromLatin1(kNumber).arg(number));
    numbering.setInjectionPoint(QWebEngineScript::DocumentCreation);
    numbering.setWorldId(QWebEngineScript::ApplicationWorld);
    numbering.setRunsOnSubFrames(false);
    p.page->scripts().insert(numbering);
    p.load = Parts::Load::Running;
    p.asked = QUrl::fromEncoded(QByteArray::fromStdString(fileUri), QUrl::StrictMode);
    p.Watch();
    const long shownBefore = p.shown;
    p.page->load(p.asked);

    // The page's own check says it is finished, but the frame it finished in may still be on its
    // way through the engine's compositor to the view (more so on a loaded machine): the picture
    // is taken once the view has shown a frame of this page and then, over a whole round of two
    // more animation frames, nothing new. The page is shown only as its document completes, so
    // its own round (0) is its first frames, which the engine may still be drawing well after
    // them at 3840x2160 (1 picture in 36 unfinished under two busy threads): the quiet round
    // counts from round 2 on. That frame mostly reaches the view during round 1, and round 2
    // starts as it comes, so the quiet round is the one right after it. A page that moves on its
    // own never rests: its frames shown in round 4 or later are made well after its check.
    int state = 0;  // as kDrawn answers
    int round = 0;
    long shownAtRound = 0;
    bool asking = false;
    bool settled = false;
    const auto nextRound = [&] {
        ++round;
        shownAtRound = p.shown;
        state = 1;
    };
    const bool inTime = WaitUntil(
        [&] {
            p.Watch();
            if (round == 1 && p.shown > shownAtRound)
                nextRound();
            if (state == 2) {
                const bool resting = round > 1 && p.shown == shownAtRound && p.shown > shownBefore;
                const bool moving = round >= 4 && p.shown > shownAtRound;
                if (resting || moving) {
                    settled = true;
                } else {
                    nextRound();
                }
            }
            if (!settled && !asking && p.load != Parts::Load::Failed) {
                asking = true;
                p.page->runJavaScript(QString::fromLatin1(kDrawn).arg(number).arg(round),
                                      QWebEngineScript::ApplicationWorld, [&, asked = round](const QVariant& answer) {
                                          asking = false;
                                          if (asked != round)
                                              return;
                                          const int was = state;
                                          state = answer.toInt();
                                          if (was == 0 && state > 0) {
                                              clock.Mark("load");
                                              p.page->setVisible(true);
                                          }
                                          if (state == 2 && round == 0)
                                              clock.Mark("layout+raster");
                                      });
            }
            return settled || p.load == Parts::Load::Failed || !p.rendererGone.empty();
        },
        deadline);
    if (settled)
        clock.Mark("delivered");
    if (!p.rendererGone.empty())
        throw Failure(ECHILD, p.rendererGone);
    if (p.load == Parts::Load::Failed)
        throw Failure(EIO, "it failed to load (a missing or unreadable file?).");
    if (!inTime && state == 0)
        throw Failure(ETIMEDOUT, "it did not finish loading within " + BoundText(bound) + ".");
    if (!inTime)
        throw Failure(ETIMEDOUT, "it loaded but drew no frame within " + BoundText(bound) + ".");
    if (p.page->zoomFactor() != ratio)
        throw Failure(EIO, "it could not be zoomed to the screen's scale.");

    // The engine's frame drawn straight into the shared memory, as grab() would draw it into a
    // picture of its own (no picture in between); a view the platform would not size is grabbed
    // and scaled.
    std::unique_ptr<SharedFrame> frame = memory.get();
    if (p.view.size() == QSize(width, height)) {
        QImage target = frame->Writable();
        p.view.render(&target);
    } else {
        frame->Fill(p.view.grab().toImage().convertToFormat(QImage::Format_RGB32).scaled(
            width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    clock.Mark("readback-to-shared");
    // Until the next request the page rests hidden: a page that moves on its own draws nothing
    // while this process waits.
    p.page->setVisible(false);
    return frame;
}

SharedFrame::SharedFrame(int width, int height)
    : width_(width), height_(height), stride_(4 * static_cast<size_t>(width))
{
    const size_t size = stride_ * static_cast<size_t>(height);
    fd_ = ::memfd_create("tarnwick-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
        ::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        const int number = errno;
        if (fd_ >= 0)
            ::close(fd_);
        throw Failure(number, "there is no memory for its picture.");
    }
    // Its pages are made now, not one by one as the frame is drawn into them.
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_, 0);
    if (mapped == MAP_FAILED) {
        const int number = errno;
        ::close(fd_);
        throw Failure(number, "there is no memory for its picture.");
    }
    data_ = static_cast<uint32_t*>(mapped);
}

SharedFrame::~SharedFrame()
{
    ::munmap(data_, stride_ * static_cast<size_t>(height_));
    ::close(fd_);
}

QImage SharedFrame::Writable()
{
    return QImage(reinterpret_cast<uchar*>(data_), width_, height_, static_cast<qsizetype>(stride_),
                  QImage::Format_RGB32);
}

QImage SharedFrame::Image() const
{
    return QImage(reinterpret_cast<const uchar*>(data_), width_, height_, static_cast<qsizetype>(stride_),
                  QImage::Format_RGB32);
}

void SharedFrame::Fill(const QImage& picture)
{
    for (int y = 0; y < height_; ++y)
        std::memcpy(data_ + static_cast<size_t>(y) * (stride_ / 4), picture.constScanLine(y), stride_);
}

int RunDrawingProcess(int argc, char** argv)
{
    // The panel that started this process: it ends with it, even when the panel is killed.
    const long parent = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (parent <= 0 || ::getppid() != static_cast<pid_t>(parent)) {
        std::fprintf(stderr, "%s: the drawing process of Tarnwick is started by the program, not by hand.\n",
                     argc > 0 ? argv[0] : "tarnwick-drawer");
        return 2;
    }
    // The answers have standard output to themselves: anything else printed goes to stderr.
    const int replies = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    ::signal(SIGPIPE, SIG_IGN);

    PrepareDrawingEngine();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const int width = argc > 3 ? std::atoi(argv[2]) : 0;
    const int height = argc > 3 ? std::atoi(argv[3]) : 0;
    PageEngine engine(width > 0 ? width : 1024, height > 0 ? height : 768);
    if (!WriteAll(replies, exchange::ReadyReply()))
        return 1;

    std::string arrived;
    QSocketNotifier requests(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&requests, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            return;
        if (n <= 0)  // the panel is gone or done; nothing of the page is kept
            ::_exit(0);
        arrived.append(chunk, static_cast<size_t>(n));
        size_t end;
        while ((end = arrived.find('\n')) != std::string::npos) {
            const std::string line = arrived.substr(0, end);
            arrived.erase(0, end + 1);
            const std::optional<exchange::Request> request = exchange::ParseRequest(line);
            std::string reply;
            bool failed = false;
            if (!request) {
                reply = exchange::FailureReply(EINVAL, "the drawing process was asked something it does not know.");
                failed = true;
            } else {
                requests.setEnabled(false);
                try {
                    std::unique_ptr<SharedFrame> frame =
                        engine.Draw(request->uri, request->width, request->height, request->ratio,
                                    std::chrono::milliseconds(request->boundMs));
                    // The pixels first, so the panel hands them on while their PNG is encoded
                    // here; the memory goes as soon as the PNG is made.
                    StageClock clock;
                    const bool handed = WriteWithDescriptor(
                        replies, exchange::PixelsReply(frame->Width(), frame->Height(), frame->Stride()),
                        frame->Fd());
                    clock.Mark("pixels-sent");
                    if (!handed)
                        ::_exit(1);
                    reply = exchange::PictureReply(FastPng(frame->Image()));
                    clock.Mark("png-encode");
                } catch (const AppError& error) {
                    reply = exchange::FailureReply(static_cast<int>(error.Number()), error.Context());
                    failed = true;
                }
                requests.setEnabled(true);
            }
            // After a failure the engine may be stuck in the page: this process ends at once and
            // the panel starts a fresh one for its next request.
            if (!WriteAll(replies, reply) || failed)
                ::_exit(failed ? 0 : 1);
        }
    });
    return app.exec();
}

}  // namespace tarnwick
