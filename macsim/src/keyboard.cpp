// Keyboard events that a tool creates and posts: event sources, keyboard events and CGEventPost.
#include "objects.h"

#include <macsim/keyboard.h>

namespace macsim {

using namespace detail;

namespace {

struct EventSourceObject : Object {
    CGEventSourceStateID state;
    CGEventFlags flags;
    EventSourceObject(CGEventSourceStateID s, CGEventFlags f)
        : Object(eventSourceTypeId), state(s), flags(f) {}
    std::string describe() const override {
        return Object::describe() + " state " + std::to_string(state);
    }
};

struct KeyboardArea {
    std::vector<PostedEvent> posted;
    CGEventFlags sourceFlags = kCGEventFlagMaskNonCoalesced;
};

KeyboardArea& area() {
    static KeyboardArea instance;
    return instance;
}

void resetKeyboardArea() {
    area() = KeyboardArea{};
}

[[maybe_unused]] const bool registered = (registerReset(&resetKeyboardArea), true);

std::string stateName(CGEventSourceStateID state) {
    switch (state) {
    case kCGEventSourceStateHIDSystemState:
        return "HIDSystemState";
    case kCGEventSourceStateCombinedSessionState:
        return "CombinedSessionState";
    case kCGEventSourceStatePrivate:
        return "Private";
    }
    return std::to_string(static_cast<int32_t>(state));
}

std::string tapName(CGEventTapLocation tap) {
    switch (tap) {
    case kCGHIDEventTap:
        return "HID";
    case kCGSessionEventTap:
        return "session";
    case kCGAnnotatedSessionEventTap:
        return "annotated";
    }
    return std::to_string(static_cast<uint32_t>(tap));
}

std::string keyText(int64_t keycode, bool down) {
    return std::to_string(keycode) + (down ? " down" : " up");
}

} // namespace

const std::vector<PostedEvent>& postedEvents() {
    return area().posted;
}

void setEventSourceFlags(CGEventFlags flags) {
    area().sourceFlags = flags;
}

} // namespace macsim

using namespace macsim;
using namespace macsim::detail;

extern "C" {

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID) {
    logCall("CGEventSourceCreate", stateName(stateID));
    if (failures().eventSourceCreate) {
        return nullptr;
    }
    return toRef<CGEventSourceRef>(
        track(std::make_unique<EventSourceObject>(stateID, area().sourceFlags)));
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    const char* function = "CGEventCreateKeyboardEvent";
    CGEventFlags flags = 0;
    if (source != nullptr) {
        flags = lookupAs<EventSourceObject>(source, eventSourceTypeId, function)->flags;
    }
    logCall(function, source != nullptr ? "source" : "NULL", keyText(virtualKey, keyDown));
    if (keyDown ? failures().keyDownCreate : failures().keyUpCreate) {
        return nullptr;
    }
    auto event = std::make_unique<EventObject>();
    event->eventType = keyDown ? kCGEventKeyDown : kCGEventKeyUp;
    event->keycode = virtualKey;
    event->flags = flags;
    return toRef<CGEventRef>(track(std::move(event)));
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    const char* function = "CGEventPost";
    if (event == nullptr) {
        logCall(function, tapName(tap), "NULL");
        return;
    }
    const EventObject* object = lookupAs<EventObject>(event, eventTypeId, function);
    const bool down = object->eventType == kCGEventKeyDown;
    logCall(function, tapName(tap), keyText(object->keycode, down));
    area().posted.push_back(
        {tap, static_cast<CGKeyCode>(object->keycode), down, object->flags, nowNanos()});
}

} // extern "C"
