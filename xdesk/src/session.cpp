#include "session.h"

#include "bus.h"
#include "session_type.h"
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

// The address that the session bus's org.a11y.Bus gives out. The call does not start the service:
// a desktop that runs no accessibility bus has its accessibility off.
std::optional<std::string> sessionBusAccessibilityAddress() {
    const std::optional<std::string> session = bus::sessionBusAddress();
    if (!session) {
        return std::nullopt;
    }
    const bus::ConnectionPtr connection = bus::connectAndGreet(*session, probeTimeoutMillis);
    if (connection == nullptr) {
        return std::nullopt;
    }
    const bus::MessagePtr reply =
        bus::call(connection.get(),
                  bus::MessagePtr(dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                               "org.a11y.Bus", "GetAddress")),
                  probeTimeoutMillis);
    const char* address = nullptr;
    if (reply == nullptr ||
        !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &address,
                               DBUS_TYPE_INVALID) ||
        address == nullptr || *address == '\0') {
        return std::nullopt;
    }
    return std::string(address);
}

// The first place that names a bus which answers, in the order AT-SPI's own clients look.
std::optional<std::string> answeringAccessibilityBus() {
    std::vector<std::string> tried;
    const auto answers = [&tried](const std::string& address) {
        tried.push_back(address);
        return bus::connectAndGreet(address, probeTimeoutMillis) != nullptr;
    };
    if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); given != nullptr && *given != '\0') {
        if (answers(given)) {
            return std::string(given);
        }
    }
    // The X root window's property, in an X11 session only: in a Wayland session X is Xwayland,
    // which a compositor may start on a client's first connection just for it.
    if (sessionType() == SessionType::x11) {
        if (std::optional<std::string> published = x11::rootTextProperty("AT_SPI_BUS")) {
            if (answers(*published)) {
                return published;
            }
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

// The address of the accessibility bus that answered the probe; nothing before it, or when none
// answered.
std::optional<std::string>& answeringAddress() {
    static std::optional<std::string> address;
    return address;
}

bool probe() {
    silenceLibraryLogging();
    answeringAddress() = answeringAccessibilityBus();
    return answeringAddress().has_value();
}

bus::ConnectionPtr& busConnection() {
    static bus::ConnectionPtr connection;
    return connection;
}

bool initialise() {
    if (!accessibilityBusAnswers()) {
        return false;
    }
    busConnection() = bus::connectAndGreet(*answeringAddress(), probeTimeoutMillis);
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
