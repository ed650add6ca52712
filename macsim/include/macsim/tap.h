// Control API of the simulated event taps and run loop, for tests only. A test scripts the
// keyboard events of the login session; the tool creates a tap, adds its run-loop source to the
// current run loop and runs it; CFRunLoopRun then hands the scripted events to the tap's callback
// one by one and records what the callback did with each.
//
// Simulation choices, where macOS says nothing or cannot be copied:
// - There is one thread and one run loop: CFRunLoopGetCurrent and CFRunLoopGetMain return the
//   same immortal object. The run loop retains each source added to it (once per source, however
//   many modes), as on macOS; a source retains its mach port, so a tap stays alive while its
//   source is in the run loop. tearDownRunLoop() drops the run loop's references, as the end of
//   the thread would, so that a test can then count the objects the tool itself still holds.
// - A source added in kCFRunLoopCommonModes or kCFRunLoopDefaultMode is serviced by
//   CFRunLoopRun; one added only in some other mode is not.
// - CFRunLoopRun takes the pending scripted events in order. For each, every tap whose source is
//   serviced gets it when the tap is enabled and the event's type is in the tap's effective mask;
//   otherwise the event passes that tap by. When the script is exhausted CFRunLoopRun returns as
//   a stopped run loop would (a real main-thread run loop would wait for ever). CFRunLoopStop from
//   inside a callback ends the run after the current event; the rest stays pending for a later
//   CFRunLoopRun. CFRunLoopStop outside a run does nothing, as on macOS.
// - A tap-disabled notice (kCGEventTapDisabledByTimeout or ...ByUserInput) is scripted like an
//   event. It reaches an enabled tap whatever its mask: the tap is disabled first and the callback
//   then gets the notice, with an event object whose type is the notice's. Until
//   CGEventTapEnable(tap, true) no further event reaches that tap. A notice finds a disabled tap
//   already silent and is not delivered to it.
// - Taps are enabled when created, as on macOS. The simulated process is never root, so a tap at
//   kCGHIDEventTap is refused (NULL). When the desktop is not trusted, a session or annotated tap
//   loses the key-down and key-up bits of its mask, and is refused when nothing is left.
// - Each delivery is a fresh CGEvent (reference count 1) owned by the run loop, which releases it
//   after the callback, together with a different event that the callback returned. A callback
//   that releases the event it was given makes that release abort, as macOS would crash.
// - CFRunLoopRunInMode delivers nothing: it advances the simulated clock by the interval and
//   returns kCFRunLoopRunTimedOut.
// - Nothing here advances the clock.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace macsim {

// One event of the login session, as a tap would see it.
struct SessionEvent {
    CGEventType type = kCGEventNull;
    CGEventFlags flags = 0;
    int64_t keycode = 0;
    int64_t autorepeat = 0; // 1 for an auto-repeated key-down
};

SessionEvent flagsChanged(CGEventFlags flags, int64_t keycode = 0);
SessionEvent keyDown(int64_t keycode, CGEventFlags flags = 0, bool autorepeat = false);
SessionEvent keyUp(int64_t keycode, CGEventFlags flags = 0);
SessionEvent tapDisabledByTimeout();
SessionEvent tapDisabledByUserInput();

// Appends to the pending events of the session; the next CFRunLoopRun delivers them.
void scriptSessionEvents(const std::vector<SessionEvent>& events);
std::size_t pendingSessionEvents();

struct TapParameters {
    CGEventTapLocation location = kCGHIDEventTap;
    CGEventTapPlacement placement = kCGHeadInsertEventTap;
    CGEventTapOptions options = kCGEventTapOptionDefault;
    CGEventMask eventsOfInterest = 0; // as asked for
    CGEventMask effectiveMask = 0;    // after the trust rule
    CGEventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
};
// The parameters of the most recent tap that CGEventTapCreate handed out.
std::optional<TapParameters> createdTap();

enum class Returned { sameEvent, otherEvent, null };

// What one tap callback did with one scripted event.
struct DeliveredEvent {
    std::size_t index = 0; // position of the event in the script, from 0
    SessionEvent sent;     // the event's fields before the callback
    SessionEvent after;    // the event's fields after it
    Returned returned = Returned::sameEvent;
    long extraReferences = 0;    // references the callback left on the event
    bool tapEnabledAfter = true; // the tap's state when the callback returned

    bool passedThroughUnchanged() const;
};
std::vector<DeliveredEvent> deliveredEvents();

// The argument of every CGEventTapEnable call, in order.
std::vector<bool> tapEnableCalls();

// The run loop releases every source it holds and forgets them.
void tearDownRunLoop();

} // namespace macsim
