// A D-Bus call, or a pause, that waits without freezing the program's windows: a nested event
// loop runs meanwhile, keeping them painted, with input to them held back so that no click starts
// a second command.
#pragma once

#include <chrono>

#include <QDBusConnection>
#include <QDBusMessage>

namespace tarnwick {

// Whether the session has a bus: DBUS_SESSION_BUS_ADDRESS, or $XDG_RUNTIME_DIR/bus. Without one,
// no connection is tried: D-Bus would start a bus for this program alone, where no desktop listens.
bool HasSessionBus();

// The reply or the error message (org.freedesktop.DBus.Error.NoReply once timeout has passed).
QDBusMessage CallKeepingWindowsPainted(const QDBusConnection& bus, const QDBusMessage& call,
                                       std::chrono::milliseconds timeout);

// Waits the time out the same way (a time of 0 paints what is due and returns); without a running
// QCoreApplication it simply sleeps.
void PauseKeepingWindowsPainted(std::chrono::milliseconds time);

}  // namespace tarnwick
