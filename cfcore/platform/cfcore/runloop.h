// The run loop off Apple, kept once for both platforms: the process's one run loop and the sources
// added to it by mode, the sources of mach ports (event taps) and of CoreFoundation file
// descriptors, and the pass that waits in poll(2) for what the sources watch and serves what is
// ready. cfcore defines the CFRunLoop, CFMachPort and CFFileDescriptor calls except the two that
// run the loop: CFRunLoopRun and CFRunLoopRunInMode are each platform's, since the simulated one
// runs a script of events on a simulated clock and the Linux desktop waits in real time.
//
// As on a Mac:
// - There is one run loop, the main thread's, which CFRunLoopGetCurrent and CFRunLoopGetMain both
//   return; the tools run it on their main thread and nowhere else.
// - The run loop retains each source added to it, once, whatever the modes; a source retains its
//   port or file descriptor. A source added in kCFRunLoopCommonModes serves the default mode.
//   Sources are served in the order given when each was made, and then in the order added.
// - While a source is served, the run loop holds a reference on it, so that a callout may
//   invalidate its own descriptor (or another source's) and the run loop still finds the objects
//   it works on.
// - CFRunLoopStop takes effect at the end of the callout that asked for it; outside a run it does
//   nothing.
// - A file descriptor's callbacks are one-shot: the read (write) callback fires once when the
//   descriptor becomes readable (writable) and is then disabled until it is enabled again. A
//   descriptor at its end or in error counts as ready for both, as kqueue's end-of-file does on a
//   Mac, so that the callback's own read or write learns what happened. A descriptor closed while
//   it is watched never becomes ready again: it drops out, as out of a kqueue on a Mac.
// - CFFileDescriptorCreate retains the context's info through its retain callback; invalidation
//   (CFFileDescriptorInvalidate, or the last release of a valid descriptor) disables the
//   callbacks, releases the info, closes the descriptor only when it was made to, and takes the
//   descriptor's sources out of the run loop at once. The source of an invalidated descriptor is
//   never added.
#pragma once

#include <cfcore/objects.h>

#include <string>
#include <vector>

namespace cfcore {

// A mach port that the run loop serves: an event tap, whose messages are the events of a
// connection of its own.
struct PortObject : Object {
    PortObject() : Object(machPortTypeId) {}

    // The descriptor to wait on for input; -1 when there is none (the connection is gone, or the
    // port's input does not come through a descriptor).
    virtual int descriptor() const = 0;
    // Whether input has been read ahead already and waits without the descriptor showing it.
    virtual bool hasReadAhead() = 0;
    // Reads and delivers what has arrived, in order. Between two deliveries it asks
    // `stopRequested` and leaves the rest for later when it says yes.
    virtual void serve(bool (*stopRequested)()) = 0;
};

// What a platform adds to the calls that cfcore defines: each call is reported before it acts,
// with what it acts on and how (the simulated platform's call log, and the actions that tests hang
// on a call), and the creation of a file descriptor or of a mach port's source may be refused.
// Without them, neither happens.
struct RunLoopCallHooks {
    void (*called)(const char* function, std::string target, std::string detail) = nullptr;
    bool (*refused)(const char* function) = nullptr;
};
void setRunLoopCallHooks(RunLoopCallHooks installed);

// The ports of the sources that serve the default mode, in the order in which they are served.
std::vector<PortObject*> portsServingDefaultMode();

// Starts and ends one run of the run loop (runs nest). CFRunLoopStop only takes effect inside a
// run; endRun clears a stop that no pass has taken.
void beginRun();
void endRun();
bool runInProgress();

// Whether CFRunLoopStop has asked the current run to stop; taking the request clears it.
bool stopRequested();
bool takeStopRequest();

// What one pass over the sources did.
struct Pass {
    bool watched = false; // some source had something to wait for
    bool handled = false; // some source was served
};

// One pass over the sources that serve `mode`: waits in poll(2) for at most `timeoutMillis` (-1:
// without limit; no wait when a port has input read ahead) for the ports' descriptors and the
// file descriptors whose callbacks are enabled, then serves each that is ready, in order, until a
// stop is requested. Returns at once, without waiting, when no source has anything to wait for.
// An interrupted wait is a pass with nothing ready.
Pass serveSources(const std::u16string& mode, int timeoutMillis);

// Whether any source serves `mode`.
bool modeHasSources(const std::u16string& mode);

// The run loop releases every source it holds and forgets them, as the end of its thread would.
void releaseRunLoopSources();

// Forgets the sources and the state of a run without releasing anything: for after
// forgetMortalObjects, which has dropped the sources already.
void forgetRunLoopSources();

inline const std::u16string defaultModeName = u"kCFRunLoopDefaultMode";

} // namespace cfcore
