// What every event tap of the platform shares, whatever it reads the keys from: the caller's
// choices (events of interest, callback, user data, enabled), the keyboard as the tap knows it,
// and the delivery of one event to the callback.
#pragma once

#include "objects.h"
#include "tapped_keys.h"

#include <cfcore/runloop.h>

namespace xdesk {

struct TapPort : cfcore::PortObject {
    CGEventMask eventsOfInterest = 0;
    CGEventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
    bool enabled = true; // taps are enabled when made, as on a Mac
    TapKeyboard keyboard;
};

// The tap behind a mach port that CGEventTapCreate made; aborts on anything else.
TapPort* tapPort(CFMachPortRef tap, const char* function);

// Whether the tap wants events of this type.
bool interested(const TapPort& tap, CGEventType type);

// Hands one event to the callback, as a new CGEvent that lives for the call. What the callback
// returns cannot go anywhere on Linux: an event of its own making is released, as a Mac would
// take it over; the event it was given is released here, so a callback that released it too
// aborts on that release.
void deliver(TapPort& tap, const TapEvent& fields);

} // namespace xdesk
