// What the run loop needs from the mach ports it serves. On the Linux desktop the only mach port
// is an event tap, whose messages are the events of its own X connection: the run loop waits on
// the connection's descriptor and lets the port read and deliver what has arrived.
#pragma once

#include "objects.h"

namespace xdesk {

// A number of released objects whose headers are kept for diagnostics once a process runs a run
// loop: enough to name a late use of anything released in the last few thousand events, and a
// bound on what a tool that runs for days keeps.
inline constexpr std::size_t releasedObjectsKept = 4096;

struct PortObject : cfcore::Object {
    PortObject() : Object(cfcore::machPortTypeId) {}

    // The descriptor to wait on for input; -1 when there is none (the connection is gone).
    virtual int descriptor() const = 0;
    // Whether input has been read ahead already and waits without the descriptor showing it.
    virtual bool hasReadAhead() = 0;
    // Reads and delivers what has arrived, in order. Between two deliveries it asks
    // `stopRequested` and leaves the rest for later when it says yes.
    virtual void serve(bool (*stopRequested)()) = 0;
};

} // namespace xdesk
