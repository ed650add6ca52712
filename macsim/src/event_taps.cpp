// Event taps: the scripted events of the login session and their delivery to the taps' callbacks.
// The choices this simulation makes are listed in <macsim/tap.h>.
#include "event_taps.h"
#include "objects.h"

#include <macsim/tap.h>

#include <cfcore/runloop.h>

namespace macsim {

using namespace detail;

namespace {

// A tap. Its events come from the script, not through a descriptor: the run loop hands them over
// itself (deliverNextSessionEvent), so the shared pass over the sources finds nothing to serve.
struct MachPortObject : cfcore::PortObject {
    TapParameters parameters;
    bool enabled = true;
    int descriptor() const override { return -1; }
    bool hasReadAhead() override { return false; }
    void serve(bool (*)()) override {}
};

struct TapArea {
    std::vector<SessionEvent> script;
    std::size_t next = 0;
    std::optional<TapParameters> lastTap;
    std::vector<DeliveredEvent> delivered;
    std::vector<bool> enableCalls;
    std::function<void()> onEventsDone; // runs once, when no scripted event is left
};

TapArea& area() {
    static TapArea instance;
    return instance;
}

void resetTapArea() {
    area() = TapArea{};
}

[[maybe_unused]] const bool registered = (registerReset(&resetTapArea), true);

MachPortObject* tapObject(CFMachPortRef tap, const char* function) {
    return lookupAs<MachPortObject>(tap, machPortTypeId, function);
}

const char* locationName(CGEventTapLocation location) {
    switch (location) {
    case kCGHIDEventTap:
        return "hid";
    case kCGSessionEventTap:
        return "session";
    case kCGAnnotatedSessionEventTap:
        return "annotated-session";
    }
    return "unknown-location";
}

bool isNotice(CGEventType type) {
    return type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
}

bool inMask(CGEventMask mask, CGEventType type) {
    return static_cast<uint32_t>(type) < 64 && (mask & CGEventMaskBit(type)) != 0;
}

SessionEvent fieldsOf(const EventObject& event) {
    return {event.eventType, event.flags, event.keycode, event.autorepeat};
}

bool sameFields(const SessionEvent& a, const SessionEvent& b) {
    return a.type == b.type && a.flags == b.flags && a.keycode == b.keycode &&
           a.autorepeat == b.autorepeat;
}

// Hands one event to one tap's callback and records the outcome.
void deliver(MachPortObject& tap, std::size_t index, const SessionEvent& sent) {
    auto fresh = std::make_unique<EventObject>();
    fresh->eventType = sent.type;
    fresh->flags = sent.flags;
    fresh->keycode = sent.keycode;
    fresh->autorepeat = sent.autorepeat;
    EventObject* event = track(std::move(fresh));
    CGEventRef ref = toRef<CGEventRef>(event);

    static int proxyStandIn = 0;
    CGEventRef result = tap.parameters.callback(reinterpret_cast<CGEventTapProxy>(&proxyStandIn),
                                                sent.type, ref, tap.parameters.userInfo);

    DeliveredEvent record;
    record.index = index;
    record.sent = sent;
    if (event->dead) {
        fail("tap callback released the event it was given: " + event->describe());
    }
    record.after = fieldsOf(*event);
    record.extraReferences = event->refs - 1;
    record.tapEnabledAfter = tap.enabled;
    if (result == nullptr) {
        record.returned = Returned::null;
    } else if (result == ref) {
        record.returned = Returned::sameEvent;
    } else {
        lookupAs<EventObject>(result, eventTypeId, "event tap callback result");
        record.returned = Returned::otherEvent;
        CFRelease(result);
    }
    CFRelease(ref);
    area().delivered.push_back(record);
}

} // namespace

namespace detail {

bool sessionEventPending() {
    return area().next < area().script.size();
}

void deliverNextSessionEvent() {
    TapArea& state = area();
    std::size_t index = state.next++;
    SessionEvent event = state.script[index];
    // A copy: a callback may add sources while it runs. Every port is a tap.
    for (cfcore::PortObject* port : cfcore::portsServingDefaultMode()) {
        auto* tap = static_cast<MachPortObject*>(port);
        if (!tap->enabled) {
            continue;
        }
        if (isNotice(event.type)) {
            tap->enabled = false;
        } else if (!inMask(tap->parameters.effectiveMask, event.type)) {
            continue;
        }
        deliver(*tap, index, event);
    }
}

std::function<void()> takeEventsDoneAction() {
    std::function<void()> action = std::move(area().onEventsDone);
    area().onEventsDone = nullptr;
    return action;
}

} // namespace detail

SessionEvent flagsChanged(CGEventFlags flags, int64_t keycode) {
    return {kCGEventFlagsChanged, flags, keycode, 0};
}

SessionEvent keyDown(int64_t keycode, CGEventFlags flags, bool autorepeat) {
    return {kCGEventKeyDown, flags, keycode, autorepeat ? 1 : 0};
}

SessionEvent keyUp(int64_t keycode, CGEventFlags flags) {
    return {kCGEventKeyUp, flags, keycode, 0};
}

SessionEvent tapDisabledByTimeout() {
    return {kCGEventTapDisabledByTimeout, 0, 0, 0};
}

SessionEvent tapDisabledByUserInput() {
    return {kCGEventTapDisabledByUserInput, 0, 0, 0};
}

void scriptSessionEvents(const std::vector<SessionEvent>& events) {
    auto& script = area().script;
    script.insert(script.end(), events.begin(), events.end());
}

std::size_t pendingSessionEvents() {
    return area().script.size() - area().next;
}

std::optional<TapParameters> createdTap() {
    return area().lastTap;
}

bool DeliveredEvent::passedThroughUnchanged() const {
    return returned == Returned::sameEvent && extraReferences == 0 && sameFields(sent, after);
}

std::vector<DeliveredEvent> deliveredEvents() {
    return area().delivered;
}

std::vector<bool> tapEnableCalls() {
    return area().enableCalls;
}

void onSessionEventsDone(std::function<void()> action) {
    area().onEventsDone = std::move(action);
}

} // namespace macsim

using namespace macsim;
using namespace macsim::detail;

extern "C" {

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo) {
    logCall("CGEventTapCreate", locationName(tap));
    if (callback == nullptr) {
        fail("CGEventTapCreate called without a callback");
    }
    if (failures().eventTapCreate || tap == kCGHIDEventTap) {
        return nullptr;
    }
    CGEventMask effective = eventsOfInterest;
    if (!desktop().trusted) {
        effective &= ~(CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp));
        if (effective == 0) {
            return nullptr;
        }
    }
    auto port = std::make_unique<MachPortObject>();
    port->parameters = {tap, place, options, eventsOfInterest, effective, callback, userInfo};
    area().lastTap = port->parameters;
    return toRef<CFMachPortRef>(track(std::move(port)));
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
    MachPortObject* port = tapObject(tap, "CGEventTapEnable");
    logCall("CGEventTapEnable", "tap", enable ? "true" : "false");
    port->enabled = enable;
    area().enableCalls.push_back(enable);
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
    MachPortObject* port = tapObject(tap, "CGEventTapIsEnabled");
    logCall("CGEventTapIsEnabled", "tap");
    return port->enabled;
}

} // extern "C"
