// Keyboard events on the Linux desktop: event sources, keyboard events, and CGEventPost as XTest
// key presses. The events' accessors are cfcore's.
#include "events.h"
#include "focus.h"
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

// A key-down posts the whole keystroke through XTest, and its key-up posts nothing. X
// applications read the modifiers from each key event, which carries the keyboard's state, not
// from flags of the poster's choosing: so the modifiers that the user holds and the event's flags
// do not ask for are released for the key and pressed again after it, those the flags ask for
// and that are not in effect are pressed for it and released after it, and the key goes down and
// up in between. All of it goes to the server in one write: no key of ours is ever left down
// between two calls, so a tool ended at any moment leaves the keyboard as the user holds it.
// Command asks for the shortcut modifiers of the focused accessible: Control, and Control+Shift
// in a terminal. The tap location makes no difference here.
void CGEventPost(CGEventTapLocation, CGEventRef event) {
    if (event == nullptr) {
        return;
    }
    const EventObject* object = eventObject(event, "CGEventPost");
    if (object->xKeycode == 0) {
        return; // a tapped event: it has been delivered already, and no key of ours types it
    }
    if (object->eventType != kCGEventKeyDown) {
        return; // its key went up with the key-down
    }
    const ShortcutStyle style = (object->flags & kCGEventFlagMaskCommand) != 0 && focusIsTerminal()
                                    ? ShortcutStyle::terminal
                                    : ShortcutStyle::desktop;
    std::vector<NeededModifier> needed;
    for (Modifier modifier : modifiersForFlags(object->flags, style)) {
        if (std::optional<NeededModifier> state = x11::modifierState(modifier)) {
            needed.push_back(*state);
        }
    }
    x11::fakeKeys(keystrokeActions(object->xKeycode, needed, x11::heldModifierKeys()));
}

} // extern "C"
