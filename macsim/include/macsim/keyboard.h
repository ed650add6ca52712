// Control API of the simulated keyboard-event posting, frontmost application and waits, for tests
// only.
//
// Simulation choices, where macOS says nothing or cannot be copied:
// - CGEventSourceCreate gives a source whose keyboard events are born with the source's flags
//   (kCGEventFlagMaskNonCoalesced unless a test sets others), as real events carry bits of the
//   keyboard's state; events created without a source are born with no flags.
// - CGEventPost records what was posted and when; it does not consume the event. Posting NULL is
//   logged and records nothing.
// - The frontmost application follows a timeline that a test sets; the activation request that a
//   tool sends changes nothing by itself (a test that wants the target to come forward says when).
// - Both waits of the workspace bridge only move the simulated clock: the plain sleep, and the
//   wait that turns the main run loop, which has nothing to deliver here.
//
// Call log entries (see control.h; onCall hooks run before each takes effect):
//   "CGEventSourceCreate STATE"                     STATE: HIDSystemState, CombinedSessionState,
//                                                   Private, or the number
//   "CGEventCreateKeyboardEvent SOURCE KEY down|up" SOURCE: "source" or "NULL"
//   "CGEventPost TAP KEY down|up"                   TAP: HID, session, annotated; "CGEventPost TAP
//                                                   NULL" for a NULL event
//   "frontmostApplication workspace"                one query of the frontmost application
//   "sleepForTimeInterval NANOSns"                  a plain sleep
//   "runMode:beforeDate: main kCFRunLoopDefaultMode NANOSns"
//                                                   a wait that turns the main run loop
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace macsim {

// ---- Keyboard events ---------------------------------------------------------------------------

struct PostedEvent {
    CGEventTapLocation tap = kCGHIDEventTap;
    CGKeyCode keycode = 0;
    bool down = false;
    CGEventFlags flags = 0;
    int64_t atNanos = 0; // nowNanos() when posted
};

// Every event handed to CGEventPost, in order.
const std::vector<PostedEvent>& postedEvents();

// The flags that keyboard events created with a source carry until the tool sets its own.
void setEventSourceFlags(CGEventFlags flags);

// ---- Frontmost application ---------------------------------------------------------------------

// From atNanos on, `pid` is the frontmost application's process identifier; nothing means no
// application is in front. An application without a pid reports -1, as on macOS.
struct FrontmostEntry {
    int64_t atNanos = 0;
    std::optional<pid_t> pid;
};

// Replaces the timeline. The latest entry whose time is not after nowNanos() says which
// application is in front (of entries with equal times, the later in the list); before the first
// entry none is.
void setFrontmostTimeline(std::vector<FrontmostEntry> timeline);

// Queries so far, and the simulated time of each.
std::size_t frontmostQueryCount();
const std::vector<int64_t>& frontmostQueryTimes();

// ---- Platform side, called by the simulated workspace bridge ----------------------------------

// -[[NSWorkspace sharedWorkspace] frontmostApplication].processIdentifier, nothing for nil.
// Logged and counted.
std::optional<pid_t> frontmostPid();

// +[NSThread sleepForTimeInterval:]: the simulated clock moves on by `nanos` at once.
void sleepNanos(int64_t nanos);

// The main run loop turned in its default mode for `nanos`: nothing to deliver, so the clock
// moves on by the whole interval.
void turnMainRunLoopNanos(int64_t nanos);

} // namespace macsim
