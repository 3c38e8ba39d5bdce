#include "desktop/linux/WebPageDrawer.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/AppError.h"
#include "base/StageClock.h"
#include "desktop/linux/DrawingExchange.h"

extern char** environ;

namespace tarnwick {

namespace {

AppError DrawFailure(uint32_t number, const FilePath& page, const std::string& why)
{
    return AppError(number, DescribeSystemError(number),
                    "The page " + page.ToUtf8() + " could not be drawn for the desktop: " + why);
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

std::string Seconds(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(time.count()) / 1000.0);
    return text;
}

}  // namespace

WebPageDrawer::WebPageDrawer(FilePath drawingProgram, std::chrono::milliseconds bound)
    : program_(std::move(drawingProgram)), bound_(bound)
{
}

WebPageDrawer::~WebPageDrawer()
{
    Stop();
}

void WebPageDrawer::Start()
{
    if (pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0)
            return;
        pid_ = -1;  // it ended (after a failed page): a fresh one is started
        Stop();
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        startError_ = errno;
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    const std::string parent = std::to_string(::getpid());
    PixelSize screen{1024, 768};
    try {
        screen = ScreenSize();
    } catch (const AppError&) {
        // No screen now: the process starts at a size of its own, and DrawPage reports.
    }
    const std::string width = std::to_string(screen.width), height = std::to_string(screen.height);
    char* argv[] = {const_cast<char*>(program_.Native().c_str()), const_cast<char*>(parent.c_str()),
                    const_cast<char*>(width.c_str()), const_cast<char*>(height.c_str()), nullptr};
    pid_t pid = -1;
    startError_ = posix_spawn(&pid, program_.Native().c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (startError_ != 0) {
        ::close(ends[0]);
        return;
    }
    pid_ = pid;
    socket_ = ends[0];
    ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
    arrived_.clear();
}

void WebPageDrawer::Stop()
{
    if (socket_ >= 0) {
        ::close(socket_);  // the process sees the end of its input and ends
        socket_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        const QDeadlineTimer deadline(1000);
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (deadline.hasExpired()) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            ::usleep(2000);
        }
        pid_ = -1;
    }
    arrived_.clear();
    for (int descriptor : descriptors_)
        ::close(descriptor);
    descriptors_.clear();
}

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
    return DrawPageWithPixels(page, size, {});
}

// Reads what has arrived, the file descriptors that came with it kept in order; 0 at the end, -1
// when nothing more is there now.
ssize_t WebPageDrawer::Receive()
{
    char chunk[65536];
    char control[CMSG_SPACE(4 * sizeof(int))];
    iovec part{chunk, sizeof chunk};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(socket_, &message, MSG_CMSG_CLOEXEC);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); n >= 0 && header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int descriptor = -1;
            std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            descriptors_.push_back(descriptor);
        }
    }
    if (n > 0)
        arrived_.append(chunk, static_cast<size_t>(n));
    return n;
}

// The pixels of a pixels reply, mapped from the memory that came with it, handed on; false when
// that memory is not what the reply says.
bool WebPageDrawer::HandPixels(const exchange::Reply& reply, const PixelsReady& pixelsReady)
{
    if (descriptors_.empty())
        return false;
    const int descriptor = descriptors_.front();
    descriptors_.erase(descriptors_.begin());
    const size_t size = reply.stride * static_cast<size_t>(reply.height);
    struct stat info {};
    const int seals = ::fcntl(descriptor, F_GET_SEALS);
    bool fits = ::fstat(descriptor, &info) == 0 && static_cast<size_t>(info.st_size) >= size && seals >= 0 &&
                (seals & F_SEAL_SHRINK) != 0;
    if (fits && pixelsReady) {
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
        fits = mapped != MAP_FAILED;
        if (fits) {
            pixelsReady(PicturePixels{.width = reply.width,
                                      .height = reply.height,
                                      .stride = reply.stride,
                                      .data = static_cast<const uint32_t*>(mapped),
                                      .sharedFd = descriptor});
            ::munmap(mapped, size);
        }
    }
    ::close(descriptor);
    return fits;
}

std::string WebPageDrawer::DrawPageWithPixels(const FilePath& page, PixelSize size, const PixelsReady& pixelsReady)
{
    StageClock clock;
    const std::string uri = page.FileUri();
    Start();
    if (pid_ <= 0)
        throw DrawFailure(static_cast<uint32_t>(startError_), page,
                          "its drawing program " + program_.ToUtf8() + " could not be started.");
    QScreen* screen = QGuiApplication::primaryScreen();
    exchange::Request request{.width = size.width,
                              .height = size.height,
                              .ratio = screen != nullptr ? screen->devicePixelRatio() : 1.0,
                              .boundMs = bound_.count(),
                              .uri = uri};
    const std::string line = exchange::DrawRequest(request);
    if (::send(socket_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        Stop();
        throw DrawFailure(ECHILD, page, "its drawing process ended before it was asked.");
    }

    // The process starts its engine first when it was not warm yet; the bound is its own.
    const QDeadlineTimer deadline((bound_ + kStartAllowance).count());
    QSocketNotifier readable(socket_, QSocketNotifier::Read);
    bool ended = false;
    for (;;) {
        ssize_t n;
        while ((n = Receive()) > 0) {
        }
        if (n == 0)
            ended = true;
        bool malformed = false;
        while (std::optional<exchange::Reply> reply = exchange::TakeReply(arrived_, malformed)) {
            if (reply->kind == exchange::Reply::Kind::Pixels) {
                clock.Mark("drawn+pixels-received");
                malformed = !HandPixels(*reply, pixelsReady);
                clock.Mark("prepare-desktop");
                if (malformed)
                    break;
                continue;
            }
            if (reply->kind == exchange::Reply::Kind::Picture) {
                clock.Mark("png-received");
                return std::move(reply->body);
            }
            if (reply->kind == exchange::Reply::Kind::Failed) {
                Stop();  // it ends after a failure; a fresh one draws the next page
                throw DrawFailure(static_cast<uint32_t>(reply->number), page, reply->body);
            }
        }
        if (malformed) {
            Stop();
            throw DrawFailure(EPROTO, page, "its drawing process answered something that is no picture.");
        }
        if (ended) {
            int status = 0;
            std::string how = "ended";
            if (::waitpid(pid_, &status, 0) == pid_) {
                pid_ = -1;
                how = WIFSIGNALED(status) ? "was ended by signal " + std::to_string(WTERMSIG(status))
                                          : "ended with status " + std::to_string(WEXITSTATUS(status));
            }
            Stop();
            throw DrawFailure(ECHILD, page, "its drawing process " + how + " before it had drawn the page.");
        }
        if (deadline.hasExpired()) {
            Stop();
            throw DrawFailure(ETIMEDOUT, page,
                              "its drawing process did not answer within " + Seconds(bound_ + kStartAllowance) + ".");
        }
        QEventLoop loop;
        QObject::connect(&readable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        QTimer::singleShot(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())), &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
}

std::string WebPageDrawer::PlainPicture(PixelSize size)
{
    QImage image(size.width, size.height, QImage::Format_RGB32);
    image.fill(Qt::black);
    return PngBytes(image, "plain picture");
}

}  // namespace tarnwick
