// Event taps, file descriptors, their run-loop sources, and the run loop that delivers scripted
// session events to the taps' callbacks and serves the descriptors. The choices this simulation
// makes are listed in <macsim/tap.h>.
#include "objects.h"

#include <macsim/tap.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace macsim {

using namespace detail;

namespace {

struct MachPortObject : Object {
    TapParameters parameters;
    bool enabled = true;
    MachPortObject() : Object(machPortTypeId) {}
};

constexpr CFOptionFlags callBackTypes =
    kCFFileDescriptorReadCallBack | kCFFileDescriptorWriteCallBack;

struct FileDescriptorObject : Object {
    int fd = -1;
    bool closeOnInvalidate = false;
    CFFileDescriptorCallBack callout = nullptr;
    CFFileDescriptorContext context{0, nullptr, nullptr, nullptr, nullptr};
    CFOptionFlags enabled = 0; // callbacks that fire once the descriptor is ready for them
    bool valid = true;
    FileDescriptorObject() : Object(fileDescriptorTypeId) {}
    std::string describe() const override {
        return Object::describe() + " fd " + std::to_string(fd) + (valid ? "" : " (invalidated)");
    }
    // What invalidation does apart from leaving the run loops; the last release of a descriptor
    // that is still valid does it too.
    void endUse() {
        valid = false;
        enabled = 0;
        if (context.release != nullptr && context.info != nullptr) {
            context.release(context.info);
        }
        context = {0, nullptr, nullptr, nullptr, nullptr};
        if (closeOnInvalidate) {
            ::close(fd);
        }
    }
    void dropPayload() override {
        if (valid) {
            endUse();
        }
    }
};

// Holds one reference on its port or descriptor, as the sources of CFMachPort and
// CFFileDescriptor do on macOS.
struct RunLoopSourceObject : Object {
    MachPortObject* port = nullptr;
    FileDescriptorObject* descriptor = nullptr;
    explicit RunLoopSourceObject(MachPortObject* p) : Object(runLoopSourceTypeId), port(p) {}
    explicit RunLoopSourceObject(FileDescriptorObject* d)
        : Object(runLoopSourceTypeId), descriptor(d) {}
    void dropPayload() override {
        if (port != nullptr) {
            CFRelease(toRef<CFMachPortRef>(port));
            port = nullptr;
        }
        if (descriptor != nullptr) {
            CFRelease(toRef<CFFileDescriptorRef>(descriptor));
            descriptor = nullptr;
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
    std::function<void()> onEventsDone; // runs once, when no scripted event is left
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

FileDescriptorObject* descriptorObject(CFFileDescriptorRef f, const char* function) {
    return lookupAs<FileDescriptorObject>(f, fileDescriptorTypeId, function);
}

std::string descriptorName(const FileDescriptorObject& descriptor) {
    return "fd:" + std::to_string(descriptor.fd);
}

std::string callBackNames(CFOptionFlags types) {
    std::string names;
    if ((types & kCFFileDescriptorReadCallBack) != 0) {
        names = "read";
    }
    if ((types & kCFFileDescriptorWriteCallBack) != 0) {
        names += names.empty() ? "write" : " write";
    }
    return names.empty() ? "none" : names;
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

// Hands the next scripted event to every tap that takes it.
void deliverNextEvent() {
    TapArea& state = area();
    std::size_t index = state.next++;
    SessionEvent event = state.script[index];
    // A copy: a callback may add sources while it runs.
    std::vector<AddedSource> sources = state.sources;
    for (const AddedSource& added : sources) {
        if (!added.serviced || added.source->descriptor != nullptr) {
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

short pollEvents(CFOptionFlags enabled) {
    short events = 0;
    if ((enabled & kCFFileDescriptorReadCallBack) != 0) {
        events |= POLLIN;
    }
    if ((enabled & kCFFileDescriptorWriteCallBack) != 0) {
        events |= POLLOUT;
    }
    return events;
}

// The enabled callbacks that a poll result lets fire. An error or hang-up condition fires them
// too, as kqueue reports end-of-file on macOS: the callback's own read or write then tells it.
CFOptionFlags readyCallBacks(CFOptionFlags enabled, short revents) {
    const bool fault = (revents & (POLLERR | POLLHUP)) != 0;
    CFOptionFlags ready = 0;
    if ((enabled & kCFFileDescriptorReadCallBack) != 0 && ((revents & POLLIN) != 0 || fault)) {
        ready |= kCFFileDescriptorReadCallBack;
    }
    if ((enabled & kCFFileDescriptorWriteCallBack) != 0 && ((revents & POLLOUT) != 0 || fault)) {
        ready |= kCFFileDescriptorWriteCallBack;
    }
    return ready;
}

// Polls the descriptors of the serviced sources that have a callback enabled, for at most
// `timeoutMillis` (-1: for ever), and calls out for each one that is ready. False when there was
// nothing to wait for.
bool serveDescriptors(int timeoutMillis) {
    TapArea& state = area();
    std::vector<RunLoopSourceObject*> waiting;
    std::vector<pollfd> polled;
    for (const AddedSource& added : state.sources) {
        FileDescriptorObject* descriptor = added.source->descriptor;
        if (added.serviced && descriptor != nullptr && descriptor->valid &&
            descriptor->enabled != 0) {
            waiting.push_back(added.source);
            polled.push_back({descriptor->fd, pollEvents(descriptor->enabled), 0});
        }
    }
    if (waiting.empty()) {
        return false;
    }
    int ready = 0;
    do {
        ready = ::poll(polled.data(), static_cast<nfds_t>(polled.size()), timeoutMillis);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        fail(std::string("the run loop cannot poll its file descriptors: ") + std::strerror(errno));
    }
    for (std::size_t i = 0; i < waiting.size() && !state.stopRequested; ++i) {
        if (polled[i].revents == 0) {
            continue;
        }
        RunLoopSourceObject* source = waiting[i];
        FileDescriptorObject* descriptor = source->descriptor;
        if (source->dead || descriptor == nullptr || !descriptor->valid) {
            continue; // an earlier callout of this round invalidated it
        }
        if ((polled[i].revents & POLLNVAL) != 0) {
            fail("file descriptor " + std::to_string(descriptor->fd) + " was closed while " +
                 descriptor->describe() + " still watches it (invalidate it first)");
        }
        const CFOptionFlags fired = readyCallBacks(descriptor->enabled, polled[i].revents);
        if (fired == 0) {
            continue;
        }
        // One-shot: a callback that wants to fire again enables itself again.
        descriptor->enabled &= ~fired;
        if (descriptor->callout == nullptr) {
            continue;
        }
        // The run loop keeps the source, and so the descriptor, alive during the callout, even
        // if the callout invalidates it.
        CFRetain(toRef<CFRunLoopSourceRef>(source));
        descriptor->callout(toRef<CFFileDescriptorRef>(descriptor), fired,
                            descriptor->context.info);
        CFRelease(toRef<CFRunLoopSourceRef>(source));
    }
    return true;
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

void onSessionEventsDone(std::function<void()> action) {
    area().onEventsDone = std::move(action);
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
    if (added->descriptor != nullptr && !added->descriptor->valid) {
        return;
    }
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
    while (!state.stopRequested) {
        if (state.next < state.script.size()) {
            // Between two events: the descriptors that are ready now, without waiting.
            serveDescriptors(0);
            if (!state.stopRequested) {
                deliverNextEvent();
            }
            continue;
        }
        if (state.onEventsDone) {
            std::function<void()> action = std::move(state.onEventsDone);
            state.onEventsDone = nullptr;
            action();
            continue;
        }
        // Nothing scripted is left: wait for the descriptors as long as any callback is enabled.
        if (!serveDescriptors(-1)) {
            break;
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

CFTypeID CFFileDescriptorGetTypeID(void) {
    return fileDescriptorTypeId;
}

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate,
                                           CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
    logCall("CFFileDescriptorCreate", "fd:" + std::to_string(fd));
    if (failures().fileDescriptorCreate || fd < 0) {
        return nullptr;
    }
    auto descriptor = std::make_unique<FileDescriptorObject>();
    descriptor->fd = fd;
    descriptor->closeOnInvalidate = closeOnInvalidate != 0;
    descriptor->callout = callout;
    if (context != nullptr) {
        descriptor->context = *context;
        if (context->retain != nullptr && context->info != nullptr) {
            descriptor->context.info = context->retain(context->info);
        }
    }
    return toRef<CFFileDescriptorRef>(track(std::move(descriptor)));
}

CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f) {
    return descriptorObject(f, "CFFileDescriptorGetNativeDescriptor")->fd;
}

void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context) {
    FileDescriptorObject* descriptor = descriptorObject(f, "CFFileDescriptorGetContext");
    if (context == nullptr || context->version != 0) {
        fail("CFFileDescriptorGetContext needs a context of version 0");
    }
    *context = descriptor->context;
}

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags types) {
    FileDescriptorObject* descriptor = descriptorObject(f, "CFFileDescriptorEnableCallBacks");
    logCall("CFFileDescriptorEnableCallBacks", descriptorName(*descriptor), callBackNames(types));
    if (descriptor->valid) {
        descriptor->enabled |= types & callBackTypes;
    }
}

void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags types) {
    FileDescriptorObject* descriptor = descriptorObject(f, "CFFileDescriptorDisableCallBacks");
    logCall("CFFileDescriptorDisableCallBacks", descriptorName(*descriptor), callBackNames(types));
    descriptor->enabled &= ~types;
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) {
    FileDescriptorObject* descriptor = descriptorObject(f, "CFFileDescriptorInvalidate");
    logCall("CFFileDescriptorInvalidate", descriptorName(*descriptor));
    if (!descriptor->valid) {
        return;
    }
    // First, while the caller's reference is sure to hold: releasing the sources may drop the
    // last other one.
    descriptor->endUse();
    std::vector<AddedSource> removed;
    auto& sources = area().sources;
    auto kept = std::stable_partition(
        sources.begin(), sources.end(),
        [descriptor](const AddedSource& added) { return added.source->descriptor != descriptor; });
    removed.assign(kept, sources.end());
    sources.erase(kept, sources.end());
    for (const AddedSource& added : removed) {
        CFRelease(toRef<CFRunLoopSourceRef>(added.source));
    }
}

Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f) {
    return descriptorObject(f, "CFFileDescriptorIsValid")->valid ? 1 : 0;
}

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef, CFFileDescriptorRef f,
                                                       CFIndex order) {
    FileDescriptorObject* descriptor = descriptorObject(f, "CFFileDescriptorCreateRunLoopSource");
    logCall("CFFileDescriptorCreateRunLoopSource", descriptorName(*descriptor),
            "order " + std::to_string(order));
    if (!descriptor->valid) {
        return nullptr;
    }
    CFRetain(f);
    return toRef<CFRunLoopSourceRef>(track(std::make_unique<RunLoopSourceObject>(descriptor)));
}

} // extern "C"
