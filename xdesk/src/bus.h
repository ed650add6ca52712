// The D-Bus plumbing that the platform's connections share (libdbus): owned connections and
// messages, a private connection that has greeted its bus, and one bounded method call.
#pragma once

#include <dbus/dbus.h>

#include <memory>
#include <optional>
#include <string>

namespace xdesk::bus {

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
// A private connection: closed and released by its owner.
using ConnectionPtr = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

// A private connection to the bus at `address` that has said Hello, so the bus answers; nothing
// otherwise. Private connections never end the process when the bus goes away.
ConnectionPtr connectAndGreet(const std::string& address, int timeoutMillis);

// The session bus's address, from DBUS_SESSION_BUS_ADDRESS; nothing when unset, empty or an
// autolaunch address, which would start a bus of our own that outlives the tool.
std::optional<std::string> sessionBusAddress();

// One method call, which starts no service, answered without an error within `timeoutMillis`;
// nothing on any failure (the message may be NULL: nothing).
MessagePtr call(DBusConnection* connection, MessagePtr message, int timeoutMillis);

} // namespace xdesk::bus
