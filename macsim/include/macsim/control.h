// Control API of the simulated macOS, for tests and the scenario runner only: tool sources never
// include this header. A test builds a desktop, injects failures and hooks, runs tool code that
// calls the ordinary platform functions, and then reads the logs, the desktop and the counts.
//
// All state is process-wide and single-threaded, like the main thread of a real tool. reset()
// returns everything to the empty desktop: no elements, untrusted, clock at zero, no failures.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace macsim {

// ---- Values that attributes hold -------------------------------------------------------------

struct Number {
    double value = 0;
};
struct ElementValue { // an element of the desktop, by name
    std::string name;
};
struct RangeValue {
    CFRange range{0, 0};
    bool unreadable = false; // AXValueGetValue refuses to copy it out
};
struct PointValue {
    double x = 0, y = 0;
};
struct SizeValue {
    double width = 0, height = 0;
};
struct RectValue {
    double x = 0, y = 0, width = 0, height = 0;
};
struct ErrorValue { // a boxed AXError
    int32_t code = 0;
};
struct AttributedText { // text that is not a plain string
    std::u16string text;
};

using Value = std::variant<std::u16string, Number, bool, ElementValue, RangeValue, PointValue,
                           SizeValue, RectValue, ErrorValue, AttributedText>;

std::u16string utf16(std::string_view utf8);
std::string utf8(const std::u16string& text); // lone surrogates become U+FFFD
Value text(std::string_view utf8);
Value range(CFIndex location, CFIndex length);
std::string describe(const Value& value); // for messages and reports

bool operator==(const Value& a, const Value& b);
inline bool operator!=(const Value& a, const Value& b) {
    return !(a == b);
}

// ---- Outcomes of platform calls --------------------------------------------------------------

// One attribute read: success with a value, success with none, an error, or an error that still
// leaves an owned value in the output slot.
struct Read {
    AXError code = kAXErrorSuccess;
    std::optional<Value> value;

    static Read of(Value v) { return {kAXErrorSuccess, std::move(v)}; }
    static Read none() { return {kAXErrorSuccess, std::nullopt}; }
    static Read error(AXError c) { return {c, std::nullopt}; }
    static Read errorLeaving(AXError c, Value v) { return {c, std::move(v)}; }
};

struct Settable {
    AXError code = kAXErrorSuccess;
    bool flag = false;
};

struct PidOutcome {
    AXError code = kAXErrorFailure;
    std::optional<pid_t> written; // what lands in the output slot, whatever the code

    static PidOutcome of(pid_t pid) { return {kAXErrorSuccess, pid}; }
    static PidOutcome error(AXError c, std::optional<pid_t> w = std::nullopt) { return {c, w}; }
};

// A write whose effect is not what its result code says: an application that answers success
// and keeps its old value, one that stores something else (a selection where a caret was set,
// line ends of its own), one whose answer fails although the value landed (a reply that came
// after the timeout).
struct WriteOutcome {
    enum class Effect { storesWritten, keepsOld, storesOther };
    AXError code = kAXErrorSuccess;
    Effect effect = Effect::storesWritten;
    Value other; // what storesOther stores

    static WriteOutcome keepingOld(AXError c = kAXErrorSuccess) {
        return {c, Effect::keepsOld, Value{}};
    }
    static WriteOutcome storing(Value v, AXError c = kAXErrorSuccess) {
        return {c, Effect::storesOther, std::move(v)};
    }
    static WriteOutcome storingWritten(AXError c) { return {c, Effect::storesWritten, Value{}}; }
};

// Attributes not listed read as kAXErrorAttributeUnsupported; settable tests not listed succeed
// with false. A write listed in writeOutcomes does what that says; one listed in writeErrors
// fails with that code and stores nothing; any other write succeeds and stores the written value
// as the attribute's value.
struct Element {
    PidOutcome pid;
    std::map<std::string, Read> attributes;
    std::map<std::string, Settable> settable;
    std::map<std::string, AXError> writeErrors;
    std::map<std::string, WriteOutcome> writeOutcomes;
};

// The desktop. Application elements are made per pid; a pid without an entry in `apps` fails
// every read and settable test with kAXErrorCannotComplete, and accepts writes.
// A process starts untrusted, as a tool that nobody granted Accessibility access: a test that
// wants a trusted tool says so.
struct Desktop {
    bool trusted = false;
    Element systemWide;
    std::map<pid_t, Element> apps;
    std::map<std::string, Element> elements;
};

Desktop& desktop();
Element& element(const std::string& name); // creates the entry when missing

// ---- Logs ------------------------------------------------------------------------------------

struct Call {
    std::string function;
    std::string target;    // element name, "system-wide", "app:PID", or empty
    std::string attribute; // or empty
};
const std::vector<Call>& calls();
std::vector<std::string> callStrings(); // "function target attribute", blanks dropped
void clearCalls();

struct Write {
    std::string target; // element name, "system-wide" or "app:PID"
    std::string attribute;
    Value value;
    AXError result = kAXErrorSuccess;
};
const std::vector<Write>& writes();

// Runs `action` just before the nth (1-based) call of `function` takes effect, so that a test
// can change the desktop in the middle of an operation.
void onCall(const std::string& function, int nth, std::function<void()> action);

// ---- Failures, clock, objects ----------------------------------------------------------------

// Platform calls that return nothing while the flag is set.
struct Failures {
    bool axValueCreate = false;
    bool eventSourceCreate = false;
    bool keyDownCreate = false;
    bool keyUpCreate = false;
    bool eventTapCreate = false;
    bool runLoopSourceCreate = false;
    bool fileDescriptorCreate = false;
};
Failures& failures();

// The simulated monotonic clock, in nanoseconds since the tool started. Only sleeps move it.
int64_t nowNanos();
void advanceNanos(int64_t nanos);
inline double nowSeconds() {
    return static_cast<double>(nowNanos()) / 1e9;
}

// Reference-counted objects that are alive and not immortal (constants are immortal).
std::size_t liveObjects();
std::vector<std::string> liveObjectDescriptions();

// Makes an owned platform object (+1) for a value, as a read would hand it out.
CFTypeRef createObject(const Value& value);
// The value that a platform object carries, as a write would store it; nothing for kinds that
// attributes cannot hold.
std::optional<Value> valueOf(CFTypeRef object);

void reset();

namespace detail {
// Areas of the simulation with state of their own register how to clear it.
void registerReset(void (*resetArea)());
} // namespace detail

} // namespace macsim
