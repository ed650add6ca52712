// Keyboard events on the Linux desktop: event sources, keyboard events, and CGEventPost as XTest
// key presses. The events' accessors are cfcore's.
#include "events.h"
#include "posted_keys.h"
#include "x11.h"

namespace xdesk {

namespace {

struct EventSourceObject : cfcore::Object {
    CGEventSourceStateID state;
    explicit EventSourceObject(CGEventSourceStateID s)
        : Object(cfcore::eventSourceTypeId), state(s) {}
};

EventObject* eventObject(CGEventRef event, const char* function) {
    return lookupAs<EventObject>(event, cfcore::eventTypeId, function);
}

// The modifier keys that this process pressed for a key that is down, to release with it.
std::vector<unsigned>& modifiersPressedByUs() {
    static std::vector<unsigned> pressed;
    return pressed;
}

} // namespace

} // namespace xdesk

using namespace xdesk;

extern "C" {

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID) {
    return toRef<CGEventSourceRef>(track(std::make_unique<EventSourceObject>(stateID)));
}

// NULL when the key cannot be typed here: a key code the platform does not post, no display, no
// XTest, or no key for it in the current keyboard mapping. So a tool learns before posting
// anything that its keystroke would go nowhere.
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    if (source != nullptr) {
        lookupAs<EventSourceObject>(source, cfcore::eventSourceTypeId,
                                    "CGEventCreateKeyboardEvent");
    }
    const std::optional<unsigned long> keysym = keysymForKeyCode(virtualKey);
    if (!keysym) {
        return nullptr;
    }
    const std::optional<unsigned> xKeycode = x11::keycodeForKeysym(*keysym);
    if (!xKeycode) {
        return nullptr;
    }
    auto event = std::make_unique<EventObject>();
    event->eventType = keyDown ? kCGEventKeyDown : kCGEventKeyUp;
    event->keycode = virtualKey;
    event->xKeycode = *xKeycode;
    return toRef<CGEventRef>(track(std::move(event)));
}

// The key goes down or up through XTest. The event's flags say which modifiers it wants held
// (Command as Control): a key-down presses those that are not in effect already, and its key-up
// releases exactly those again, so the user's own modifiers are never touched. The tap location
// makes no difference here.
void CGEventPost(CGEventTapLocation, CGEventRef event) {
    if (event == nullptr) {
        return;
    }
    const EventObject* object = eventObject(event, "CGEventPost");
    if (object->xKeycode == 0) {
        return; // a tapped event: it has been delivered already, and no key of ours types it
    }
    const bool down = object->eventType == kCGEventKeyDown;
    std::vector<NeededModifier> needed;
    if (down) {
        for (Modifier modifier : modifiersForFlags(object->flags)) {
            if (std::optional<NeededModifier> state = x11::modifierState(modifier)) {
                needed.push_back(*state);
            }
        }
    }
    x11::fakeKeys(keyActions(object->xKeycode, down, needed, modifiersPressedByUs()));
}

} // extern "C"
