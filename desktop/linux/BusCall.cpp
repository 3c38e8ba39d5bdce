#include "desktop/linux/BusCall.h"

#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>

#include <sys/stat.h>

namespace tarnwick {

bool HasSessionBus()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0')
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0')
        return false;
    struct stat status {};
    return stat((std::string(runtime) + "/bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

QDBusMessage CallKeepingWindowsPainted(const QDBusConnection& bus, const QDBusMessage& call,
                                       std::chrono::milliseconds timeout)
{
    const auto bound = std::clamp<long long>(timeout.count(), 1, std::numeric_limits<int>::max());
    QDBusConnection connection(bus);
    QDBusPendingCall pending = connection.asyncCall(call, static_cast<int>(bound));
    if (!pending.isFinished()) {
        QEventLoop loop;
        QDBusPendingCallWatcher watcher(pending);
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        // The pending call ends by itself once the bound has passed (NoReply).
        if (!pending.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return pending.reply();
}

void PauseKeepingWindowsPainted(std::chrono::milliseconds time)
{
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_for(time);
        return;
    }
    if (time.count() <= 0) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace tarnwick
