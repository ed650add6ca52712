// Calls to the accessibles of other applications, each one D-Bus method call on the accessibility
// bus to AT-SPI's interfaces, made over the session's own connection (libdbus).
//
// libatspi is not used for these: on first contact with an application it asks for the
// application's whole accessible cache (GetItems), and every later call waits behind that answer.
// For a one-shot tool every contact is the first, and a large application (an office suite's
// window) takes a quarter of a second to answer it. Here each question costs exactly one call, and
// each call is bounded by the session's call timeout.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <sys/types.h>

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xdesk {

// An accessible: the bus name of its application and its object path.
struct Accessible {
    std::string bus;
    std::string path;

    bool operator==(const Accessible& other) const {
        return bus == other.bus && path == other.path;
    }
};

// The accessibility registry's root, whose children are the applications.
Accessible desktopRoot();

// An application's root accessible.
Accessible applicationRoot(const std::string& bus);

// AT-SPI's states, numbered as AtspiStateType numbers them.
using States = std::bitset<64>;

// Every call answers kAXErrorSuccess, or kAXErrorCannotComplete when the call failed, timed out,
// answered with an unexpected signature, or went to an application that has stopped answering
// (session.h). An output is written only on success.

AXError getRole(const Accessible& accessible, uint32_t* role);
// The accessible's name: a window's title; for an application's root, the toolkit's name for the
// program (GTK's program name).
AXError getName(const Accessible& accessible, std::string* name);
AXError getStates(const Accessible& accessible, States* states);
AXError getInterfaces(const Accessible& accessible, std::vector<std::string>* interfaces);
AXError getChildren(const Accessible& accessible, std::vector<Accessible>* children);
// The parent; nothing for an accessible at the top (a null object path).
AXError getParent(const Accessible& accessible, std::optional<Accessible>* parent);
// The process of the application that owns `bus`, as the bus daemon knows it.
AXError getConnectionPid(const std::string& bus, pid_t* pid);
// What the application's toolkit calls itself ("gtk", "Qt", "Gecko", ...).
AXError getToolkitName(const std::string& bus, std::string* name);
// Every accessible below `root` (a Collection) with all of the `wanted` states, in the
// application's canonical order (a parent before its children).
AXError getMatchesWithStates(const Accessible& root, States wanted,
                             std::vector<Accessible>* matches);

// Text: offsets count as the application counts (characters, or UTF-16 units for some).
AXError getCharacterCount(const Accessible& accessible, int32_t* count);
// The text from `start` to `end`, as UTF-8 (the bus carries only valid UTF-8).
AXError getText(const Accessible& accessible, int32_t start, int32_t end, std::string* utf8);
AXError getCaretOffset(const Accessible& accessible, int32_t* offset);
AXError getSelectionCount(const Accessible& accessible, int32_t* count);
AXError getSelection(const Accessible& accessible, int32_t index, int32_t* start, int32_t* end);
// The writes answer what the application answered: true when it did what was asked.
AXError setCaretOffset(const Accessible& accessible, int32_t offset, bool* done);
AXError setSelection(const Accessible& accessible, int32_t index, int32_t start, int32_t end,
                     bool* done);
AXError addSelection(const Accessible& accessible, int32_t start, int32_t end, bool* done);
AXError removeSelection(const Accessible& accessible, int32_t index, bool* done);

// EditableText. `length` is passed as given: toolkits read it differently (bytes of the UTF-8
// text, or UTF-16 units).
AXError setTextContents(const Accessible& accessible, const std::string& utf8, bool* done);
AXError insertText(const Accessible& accessible, int32_t position, const std::string& utf8,
                   int32_t length, bool* done);
AXError deleteText(const Accessible& accessible, int32_t start, int32_t end, bool* done);

// Value.
AXError getCurrentValue(const Accessible& accessible, double* value);

// ---- Events ----------------------------------------------------------------------------------
// Applications send an event as a signal only once some client has asked the registry for it,
// and the bus delivers a signal only to a connection that has asked for it with a match rule.
// The events arrive on the session's connection (session.h), whose descriptor becomes readable
// when they do; calls made meanwhile keep the events that come before their answer for later.

enum class EventKind {
    windowActivated,   // window:activate of a frame: `source` is the frame
    windowDeactivated, // window:deactivate of a frame
    applicationJoined, // an application's root added to the desktop: `source` is that root
    applicationLeft,   // an application's root removed from the desktop (it left the bus)
};

struct Event {
    EventKind kind = EventKind::windowActivated;
    Accessible source;
};

// Asks the registry that every application send the window activations and deactivations, and
// the bus that it deliver them and the desktop's news of applications joining and leaving to this
// process.
// The registry forgets the request when the process leaves the bus.
AXError listenForWindowEvents();

// The events that have arrived, read without waiting, in order; other messages are dropped.
std::vector<Event> takeEvents();

} // namespace xdesk
