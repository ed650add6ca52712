#include "tap_port.h"

#include "events.h"

#include <memory>

namespace xdesk {

TapPort* tapPort(CFMachPortRef tap, const char* function) {
    return lookupAs<TapPort>(tap, cfcore::machPortTypeId, function);
}

bool interested(const TapPort& tap, CGEventType type) {
    return (tap.eventsOfInterest & CGEventMaskBit(type)) != 0;
}

void deliver(TapPort& tap, const TapEvent& fields) {
    auto made = std::make_unique<EventObject>();
    made->eventType = fields.type;
    made->flags = fields.flags;
    made->keycode = fields.keycode;
    made->autorepeat = fields.autorepeat;
    CGEventRef event = toRef<CGEventRef>(track(std::move(made)));
    static int proxyStandIn = 0;
    CGEventRef returned = tap.callback(reinterpret_cast<CGEventTapProxy>(&proxyStandIn),
                                       fields.type, event, tap.userInfo);
    if (returned != nullptr && returned != event) {
        CFRelease(returned);
    }
    CFRelease(event);
}

} // namespace xdesk
