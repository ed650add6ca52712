// The keyboard events of the Linux desktop: those a tool makes to post, and those an event tap
// delivers.
#pragma once

#include "objects.h"

namespace xdesk {

// A keyboard event: cfcore's fields, which the CGEvent accessors read, plus the X key that types
// its key code when the event is one to post (in a Wayland session the key of wayland.h's
// keyForKeysym; 0 for an event that a tap delivers). Every CGEvent
// on this platform is one of these.
struct EventObject : cfcore::EventObject {
    unsigned xKeycode = 0;
};

} // namespace xdesk
