// gripwell: watches one modifier key through an active event tap on the login session and
// writes "ready", then "down", "up" and "combo_space" lines on standard output.
#pragma once

#include "gripwell/decision.h"
#include "gripwell/hold_modifier.h"

#include <ApplicationServices/ApplicationServices.h>

#include <string>
#include <vector>

namespace gripwell {

inline constexpr CGEventMask eventsOfInterest =
    CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventFlagsChanged);

// Exit statuses of a start-up that cannot complete; each comes after its one error line.
inline constexpr int notTrustedStatus = 1;
inline constexpr int eventTapFailedStatus = 2;
inline constexpr int runLoopSourceFailedStatus = 3;

// The tap callback: decides on the event, writes at most one line, re-enables the tap after a
// tap-disabled notice, and returns the very event it was given, unaltered and not retained.
// Runs on the main thread only; the user data is not used.
CGEventRef tapCallback(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* userInfo);

// The whole tool. `args` is the command line with the program name first; only args[1], when
// present, is read. Returns 1, 2 or 3 after an error line when start-up fails, or 0 after
// "ready" once the run loop has stopped. From "ready" on, lines that standard output cannot take
// at once wait (see output.h) and the run loop writes them later. Ends the process with status 0
// itself when standard output's reader has gone, or when more than maxBacklogBytes would wait.
int run(const std::vector<std::string>& args);

} // namespace gripwell
