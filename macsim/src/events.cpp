// CGEvent objects and their fields, shared by posted keyboard events and tapped events.
#include "objects.h"

namespace macsim::detail {

std::string EventObject::describe() const {
    return Object::describe() + " type " + std::to_string(eventType) + " keycode " +
           std::to_string(keycode);
}

} // namespace macsim::detail

using namespace macsim::detail;

namespace {
EventObject* eventObject(CGEventRef event, const char* function) {
    return lookupAs<EventObject>(event, eventTypeId, function);
}
} // namespace

extern "C" {

CFTypeID CGEventGetTypeID(void) {
    return eventTypeId;
}

CGEventType CGEventGetType(CGEventRef event) {
    return eventObject(event, "CGEventGetType")->eventType;
}

CGEventFlags CGEventGetFlags(CGEventRef event) {
    return eventObject(event, "CGEventGetFlags")->flags;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
    eventObject(event, "CGEventSetFlags")->flags = flags;
}

long long CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
    EventObject* object = eventObject(event, "CGEventGetIntegerValueField");
    switch (field) {
    case kCGKeyboardEventKeycode:
        return object->keycode;
    case kCGKeyboardEventAutorepeat:
        return object->autorepeat;
    default:
        return 0;
    }
}

} // extern "C"
