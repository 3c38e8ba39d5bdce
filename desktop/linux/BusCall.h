// A D-Bus call that waits for its answer without freezing the program's windows: a nested event
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

}  // namespace tarnwick
