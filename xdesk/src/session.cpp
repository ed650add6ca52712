#include "session.h"

#include "x11.h"

#include <dbus/dbus.h>
#include <glib.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace xdesk {

namespace {

// The probe's own calls: long enough for a loaded desktop, short enough that a bus that accepts
// connections but never answers cannot stall the tool.
constexpr int probeTimeoutMillis = 1000;

void discardLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

GLogWriterOutput discardLogRecord(GLogLevelFlags, const GLogField*, gsize, gpointer) {
    return G_LOG_WRITER_HANDLED;
}

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using ConnectionPtr = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

// One method call on a bus, answered within the probe's timeout; nothing on any failure.
MessagePtr callBus(DBusConnection* connection, MessagePtr call) {
    if (call == nullptr) {
        return nullptr;
    }
    DBusError error;
    dbus_error_init(&error);
    MessagePtr reply(dbus_connection_send_with_reply_and_block(connection, call.get(),
                                                               probeTimeoutMillis, &error));
    dbus_error_free(&error);
    return reply;
}

// A private connection to the bus at `address` that has said Hello, so the bus answers; nothing
// otherwise. Private connections never end the process when the bus goes away.
ConnectionPtr connectAndGreet(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    ConnectionPtr connection(dbus_connection_open_private(address.c_str(), &error));
    dbus_error_free(&error);
    if (connection == nullptr) {
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    MessagePtr hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                  DBUS_INTERFACE_DBUS, "Hello"));
    if (callBus(connection.get(), std::move(hello)) == nullptr) {
        return nullptr;
    }
    return connection;
}

// The address that the session bus's org.a11y.Bus gives out. The call does not start the service:
// a desktop that runs no accessibility bus has its accessibility off.
std::optional<std::string> sessionBusAccessibilityAddress() {
    const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    // An autolaunch address would start a bus of our own, which would outlive the tool.
    if (session == nullptr || *session == '\0' ||
        std::string_view(session).find("autolaunch:") != std::string_view::npos) {
        return std::nullopt;
    }
    ConnectionPtr connection = connectAndGreet(session);
    if (connection == nullptr) {
        return std::nullopt;
    }
    MessagePtr call(dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                                 "GetAddress"));
    if (call == nullptr) {
        return std::nullopt;
    }
    dbus_message_set_auto_start(call.get(), FALSE);
    MessagePtr reply = callBus(connection.get(), std::move(call));
    const char* address = nullptr;
    if (reply == nullptr ||
        !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &address,
                               DBUS_TYPE_INVALID) ||
        address == nullptr || *address == '\0') {
        return std::nullopt;
    }
    return std::string(address);
}

// The first place that names a bus which answers, in the order libatspi looks.
std::optional<std::string> answeringAccessibilityBus() {
    std::vector<std::string> tried;
    const auto answers = [&tried](const std::string& address) {
        tried.push_back(address);
        return connectAndGreet(address) != nullptr;
    };
    if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); given != nullptr && *given != '\0') {
        if (answers(given)) {
            return std::string(given);
        }
    }
    if (std::optional<std::string> published = x11::rootTextProperty("AT_SPI_BUS")) {
        if (answers(*published)) {
            return published;
        }
    }
    if (std::optional<std::string> offered = sessionBusAccessibilityAddress()) {
        for (const std::string& address : tried) {
            if (address == *offered) {
                return std::nullopt; // already found silent
            }
        }
        if (answers(*offered)) {
            return offered;
        }
    }
    return std::nullopt;
}

bool probe() {
    silenceLibraryLogging();
    const std::optional<std::string> address = answeringAccessibilityBus();
    // libatspi looks here first: it then connects to exactly the bus that answered.
    return address && setenv("AT_SPI_BUS_ADDRESS", address->c_str(), 1) == 0;
}

ConnectionPtr& busConnection() {
    static ConnectionPtr connection;
    return connection;
}

bool initialise() {
    if (!accessibilityBusAnswers()) {
        return false;
    }
    const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); // set by the probe
    if (address == nullptr) {
        return false;
    }
    busConnection() = connectAndGreet(address);
    return busConnection() != nullptr;
}

std::set<std::string>& silentApplications() {
    static std::set<std::string> names;
    return names;
}

// Applications whose last call was a write that ran out of time: the next call decides whether
// they are slow (it is answered in time) or have stopped answering (it runs out of time too).
std::set<std::string>& lateWriters() {
    static std::set<std::string> names;
    return names;
}

int64_t nowNanos() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}

} // namespace

void silenceLibraryLogging() {
    static const bool silenced = [] {
        g_log_set_writer_func(&discardLogRecord, nullptr, nullptr);
        g_log_set_default_handler(&discardLogMessage, nullptr);
        return true;
    }();
    static_cast<void>(silenced);
}

bool accessibilityBusAnswers() {
    static const bool answers = probe();
    return answers;
}

bool accessibilityReady() {
    static const bool ready = initialise();
    return ready;
}

DBusConnection* accessibilityBus() {
    return accessibilityReady() ? busConnection().get() : nullptr;
}

std::optional<BusCall> beginCall(const std::string& bus, CallKind kind) {
    if (bus.empty() || silentApplications().count(bus) != 0) {
        return std::nullopt;
    }
    return BusCall{bus, kind, nowNanos()};
}

AXError endCall(const BusCall& call, bool failed) {
    constexpr int64_t nanosPerMilli = 1'000'000;
    const bool timedOut = nowNanos() - call.startedNanos >= callTimeoutMillis * nanosPerMilli;
    if (timedOut) {
        const bool firstLateWrite =
            call.kind == CallKind::write && lateWriters().insert(call.bus).second;
        if (!firstLateWrite) {
            silentApplications().insert(call.bus);
        }
    } else {
        lateWriters().erase(call.bus); // answering again: slow, not hung
    }
    return failed || timedOut ? kAXErrorCannotComplete : kAXErrorSuccess;
}

} // namespace xdesk
