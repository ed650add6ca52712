// The accessibility session of the process: the test for the accessibility bus, the connection to
// that bus that every call to an application goes through, and the bookkeeping that keeps a call
// to an unresponsive application from blocking the tool more than once.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <dbus/dbus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace xdesk {

// How long one call to another application through the bus may take before it counts as failed.
inline constexpr int callTimeoutMillis = 2000;

// Routes every GLib log message (of GLib and GObject, which the role names of libatspi's table go
// through) to nowhere: the tools never write a byte to standard error. Idempotent; called before
// anything reaches GLib.
void silenceLibraryLogging();

// Whether the accessibility bus answers. The first call looks for the bus where AT-SPI's clients
// look (AT_SPI_BUS_ADDRESS, the root window's AT_SPI_BUS property in an X11 session, then
// org.a11y.Bus on the session bus, without starting it) and checks with a bounded call that it
// answers; the calls to applications then go to exactly that bus. Later calls give the same
// answer. Holds no connection afterwards: a tool that only tests trust (gripwell, for days) is
// then not on the bus at all.
bool accessibilityBusAnswers();

// Whether the process is connected to the accessibility bus: the bus answers and the connection
// that calls to applications use has been opened and greeted (by the first call).
bool accessibilityReady();

// That connection, once accessibilityReady() has returned true; it lives as long as the process.
DBusConnection* accessibilityBus();

// What a call does to the application: a read only asks; a write makes the application change
// something, which may run handlers of its own for a while before it answers.
enum class CallKind { read, write };

// One call to another application through the bus.
struct BusCall {
    std::string bus; // the application's bus name
    CallKind kind = CallKind::read;
    int64_t startedNanos = 0;
};

// Starts a call to the application at `bus`; nothing when that application has stopped
// answering in this process: another call would only wait again.
std::optional<BusCall> beginCall(const std::string& bus, CallKind kind);

// kAXErrorSuccess when the call came back in time without an error; otherwise
// kAXErrorCannotComplete. A call that took the whole timeout means that the application has
// stopped answering, and it is not asked again, so that a hung application costs one timeout, not
// one per call. One exception: a write that runs out of time leaves the application one call
// more. A slow application answers a write only once the handlers of the change have run, and
// its writer then reads back whether the write landed; when that call is answered in time, the
// application is only slow and is asked on; when it runs out of time too, the application has
// stopped answering. So a hung application costs two timeouts at most.
AXError endCall(const BusCall& call, bool failed);

} // namespace xdesk
