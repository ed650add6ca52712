// Event taps, their run-loop sources and the run loop that delivers scripted session events to
// the taps' callbacks. The choices this simulation makes are listed in <macsim/tap.h>.
#include "objects.h"

#include <macsim/tap.h>

#include <algorithm>
#include <cmath>

namespace macsim {

using namespace detail;

namespace {

struct MachPortObject : Object {
    TapParameters parameters;
    bool enabled = true;
    MachPortObject() : Object(machPortTypeId) {}
};

// Holds one reference on its port, as CFMachPort's source does on macOS.
struct RunLoopSourceObject : Object {
    MachPortObject* port;
    explicit RunLoopSourceObject(MachPortObject* p) : Object(runLoopSourceTypeId), port(p) {}
    void dropPayload() override {
        if (port != nullptr) {
            CFRelease(toRef<CFMachPortRef>(port));
            port = nullptr;
        }
    }
};

struct RunLoopObject : Object {
    RunLoopObject() : Object(runLoopTypeId) {}
};

struct AddedSource {
    RunLoopSourceObject* source;
    bool serviced; // added in the default mode or the common modes
};

struct TapArea {
    std::vector<SessionEvent> script;
    std::size_t next = 0;
    std::optional<TapParameters> lastTap;
    std::vector<DeliveredEvent> delivered;
    std::vector<bool> enableCalls;
    std::vector<AddedSource> sources;
    bool running = false;
    bool stopRequested = false;
};

TapArea& area() {
    static TapArea instance;
    return instance;
}

void resetTapArea() {
    // The objects themselves are gone already: reset() clears the registry first.
    area() = TapArea{};
}

[[maybe_unused]] const bool registered = (registerReset(&resetTapArea), true);

RunLoopObject* theRunLoop() {
    static RunLoopObject* loop = [] {
        RunLoopObject* object = track(std::make_unique<RunLoopObject>());
        makeImmortal(object);
        return object;
    }();
    return loop;
}

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

void tearDownRunLoop() {
    std::vector<AddedSource> held;
    held.swap(area().sources);
    for (const AddedSource& added : held) {
        CFRelease(toRef<CFRunLoopSourceRef>(added.source));
    }
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

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port,
                                                 CFIndex order) {
    MachPortObject* tap = tapObject(port, "CFMachPortCreateRunLoopSource");
    logCall("CFMachPortCreateRunLoopSource", "tap", "order " + std::to_string(order));
    if (failures().runLoopSourceCreate) {
        return nullptr;
    }
    CFRetain(port);
    return toRef<CFRunLoopSourceRef>(track(std::make_unique<RunLoopSourceObject>(tap)));
}

CFRunLoopRef CFRunLoopGetCurrent(void) {
    logCall("CFRunLoopGetCurrent");
    return toRef<CFRunLoopRef>(theRunLoop());
}

CFRunLoopRef CFRunLoopGetMain(void) {
    logCall("CFRunLoopGetMain");
    return toRef<CFRunLoopRef>(theRunLoop());
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    lookupAs<RunLoopObject>(rl, runLoopTypeId, "CFRunLoopAddSource");
    auto* added = lookupAs<RunLoopSourceObject>(source, runLoopSourceTypeId, "CFRunLoopAddSource");
    std::string modeName = utf8(stringText(mode, "CFRunLoopAddSource"));
    logCall("CFRunLoopAddSource", "run-loop", modeName);
    // Modes are compared by name, as CFRunLoop does.
    bool serviced = modeName == "kCFRunLoopCommonModes" || modeName == "kCFRunLoopDefaultMode";
    auto& sources = area().sources;
    auto found = std::find_if(sources.begin(), sources.end(),
                              [added](const AddedSource& entry) { return entry.source == added; });
    if (found != sources.end()) {
        found->serviced = found->serviced || serviced;
        return;
    }
    CFRetain(source);
    sources.push_back({added, serviced});
}

void CFRunLoopRun(void) {
    logCall("CFRunLoopRun");
    TapArea& state = area();
    if (state.running) {
        fail("CFRunLoopRun called from inside a run of the same run loop");
    }
    state.running = true;
    state.stopRequested = false;
    while (state.next < state.script.size() && !state.stopRequested) {
        std::size_t index = state.next++;
        SessionEvent event = state.script[index];
        // A copy: a callback may add sources while it runs.
        std::vector<AddedSource> sources = state.sources;
        for (const AddedSource& added : sources) {
            if (!added.serviced) {
                continue;
            }
            MachPortObject* tap = added.source->port;
            if (tap == nullptr || tap->dead) {
                fail("event tap released while its run-loop source still uses it");
            }
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
    state.running = false;
    state.stopRequested = false;
}

void CFRunLoopStop(CFRunLoopRef rl) {
    lookupAs<RunLoopObject>(rl, runLoopTypeId, "CFRunLoopStop");
    logCall("CFRunLoopStop", "run-loop");
    if (area().running) {
        area().stopRequested = true;
    }
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds, Boolean) {
    std::string modeName = utf8(stringText(mode, "CFRunLoopRunInMode"));
    logCall("CFRunLoopRunInMode", "", modeName);
    if (seconds > 0) {
        advanceNanos(static_cast<int64_t>(std::llround(seconds * 1e9)));
    }
    return kCFRunLoopRunTimedOut;
}

} // extern "C"
