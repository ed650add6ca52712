// The keyboard events of the Linux desktop: those a tool makes to post, and those an event tap
// delivers.
#pragma once

#include "objects.h"

#include <string>

namespace xdesk {

// A keyboard event: the Mac's fields, plus the X key that types its key code when the event is
// one to post (0 for an event that a tap delivers).
struct EventObject : cfcore::Object {
    CGEventType eventType = kCGEventNull;
    CGEventFlags flags = 0;
    long long keycode = 0;
    long long autorepeat = 0;
    unsigned xKeycode = 0;
    EventObject() : Object(cfcore::eventTypeId) {}
    std::string describe() const override {
        return Object::describe() + " type " + std::to_string(eventType) + " keycode " +
               std::to_string(keycode);
    }
};

} // namespace xdesk
