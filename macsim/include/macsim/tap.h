// Control API of the simulated event taps and run loop, for tests only. A test scripts the
// keyboard events of the login session; the tool creates a tap, adds its run-loop source to the
// current run loop and runs it; CFRunLoopRun then hands the scripted events to the tap's callback
// one by one and records what the callback did with each. The run loop also serves
// CFFileDescriptor sources over the process's real file descriptors.
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
//   otherwise the event passes that tap by. CFRunLoopStop from inside a callback ends the run
//   after the current event, or after the current descriptor's callout; the rest stays pending
//   for a later CFRunLoopRun. CFRunLoopStop outside a run does nothing, as on macOS.
// - File descriptors are real: a CFFileDescriptor watches the process's own descriptor with
//   poll(2). Before each scripted event, the serviced descriptor sources with a callback enabled
//   are polled without waiting, and each one that is ready calls out. Once the script is
//   exhausted (and the action of onSessionEventsDone, if any, has run), CFRunLoopRun waits in
//   poll for as long as it takes while any serviced descriptor has a callback enabled, and
//   returns, as a stopped run loop would, as soon as none has: a real main-thread run loop would
//   wait for ever. With no descriptor sources this is the old behaviour: the script, then return.
// - A descriptor is ready for its read callback when poll reports POLLIN, for its write callback
//   when it reports POLLOUT; an error or hang-up (POLLERR, POLLHUP: for a pipe, a reader that has
//   gone) makes both ready, as kqueue's end-of-file does on macOS, so that the callback's own
//   read or write learns what happened. Callbacks are one-shot, as on macOS: each is disabled
//   before it fires and fires again only once enabled again. A descriptor closed while a valid
//   CFFileDescriptor watches it never becomes ready again, as a closed descriptor drops out of a
//   kqueue on macOS (the run loop and the file descriptors are cfcore's, shared with the Linux
//   desktop: cfcore/runloop.h).
// - Sources are served in the order given when each was made, then in the order added; the run
//   loop holds a reference on each source while it is served, as on macOS.
// - CFFileDescriptorCreate retains the context's info through its retain callback and releases
//   it on invalidation; it refuses (NULL) a negative descriptor and, with the failure flag set,
//   any. Each CFFileDescriptorCreateRunLoopSource makes a new source (macOS hands out one cached
//   source), and the source retains its descriptor until the source itself goes.
//   CFFileDescriptorInvalidate disables the callbacks, takes the descriptor's sources out of the
//   run loop (releasing the run loop's references), releases the info, and closes the
//   descriptor only if it was created with closeOnInvalidate. A descriptor left valid and in
//   the run loop is therefore never freed: the source and the run loop hold it. Adding the
//   source of an invalidated descriptor to the run loop does nothing.
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
// - Nothing here advances the clock: poll's waits are real time, which no scripted time sees.
//
// Call log entries of descriptors (see control.h), for descriptor N:
//   "CFFileDescriptorCreate fd:N", "CFFileDescriptorCreateRunLoopSource fd:N order K",
//   "CFFileDescriptorEnableCallBacks fd:N read|write|read write", the same for Disable, and
//   "CFFileDescriptorInvalidate fd:N". Callouts are not logged.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Runs `action` once, inside CFRunLoopRun, when the run loop finds no scripted event left: right
// after the last one has been handed to the taps, or at the start of a run with none pending.
// It runs before the run loop starts to wait for descriptors, and not at all if the process
// ends first. A later call replaces an action that has not run yet.
void onSessionEventsDone(std::function<void()> action);

// The run loop releases every source it holds and forgets them.
void tearDownRunLoop();

} // namespace macsim
