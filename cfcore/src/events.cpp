// CGEvent objects and the accessors of their fields. Making, posting and tapping events belong to
// each platform.
#include <cfcore/objects.h>

namespace cfcore {

std::string EventObject::describe() const {
    return Object::describe() + " type " + std::to_string(eventType) + " keycode " +
           std::to_string(keycode);
}

} // namespace cfcore

using namespace cfcore;

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
    const EventObject* object = eventObject(event, "CGEventGetIntegerValueField");
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
