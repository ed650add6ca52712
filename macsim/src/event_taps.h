// What the simulated run loop asks of the event taps: the scripted session events, handed over one
// at a time between two passes over the descriptors.
#pragma once

#include <functional>

namespace macsim::detail {

// Whether a scripted event is still to be delivered.
bool sessionEventPending();

// Hands the next scripted event to every tap that takes it: each tap whose source serves the
// default mode, when the tap is enabled and the event is in its mask (a notice whatever the mask).
void deliverNextSessionEvent();

// The action that onSessionEventsDone left, once; empty when there is none.
std::function<void()> takeEventsDoneAction();

} // namespace macsim::detail
