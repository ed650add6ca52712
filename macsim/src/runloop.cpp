// Running the simulated run loop: the bookkeeping, the sources and the file descriptors are
// cfcore's (cfcore/runloop.h); here a run hands the scripted session events to the taps, serving
// the descriptors that are ready between two of them, and then waits for the descriptors only
// while one has a callback enabled. The choices this simulation makes are listed in
// <macsim/tap.h>.
#include "event_taps.h"
#include "objects.h"

#include <macsim/tap.h>

#include <cfcore/runloop.h>

#include <cmath>

namespace macsim {

using namespace detail;

namespace {

// The sources are gone already: reset() clears the registry first.
[[maybe_unused]] const bool registered = (registerReset(&cfcore::forgetRunLoopSources), true);

} // namespace

void tearDownRunLoop() {
    cfcore::releaseRunLoopSources();
}

} // namespace macsim

using namespace macsim;
using namespace macsim::detail;

extern "C" {

void CFRunLoopRun(void) {
    logCall("CFRunLoopRun");
    if (cfcore::runInProgress()) {
        fail("CFRunLoopRun called from inside a run of the same run loop");
    }
    cfcore::beginRun();
    while (!cfcore::takeStopRequest()) {
        if (sessionEventPending()) {
            // Between two events: the descriptors that are ready now, without waiting.
            cfcore::serveSources(cfcore::defaultModeName, 0);
            if (!cfcore::stopRequested()) {
                deliverNextSessionEvent();
            }
            continue;
        }
        if (std::function<void()> action = takeEventsDoneAction()) {
            action();
            continue;
        }
        // Nothing scripted is left: wait for the descriptors as long as any callback is enabled.
        if (!cfcore::serveSources(cfcore::defaultModeName, -1).watched) {
            break;
        }
    }
    cfcore::endRun();
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds, Boolean) {
    std::string modeName = utf8(stringText(mode, "CFRunLoopRunInMode"));
    logCall("CFRunLoopRunInMode", "", modeName);
    if (seconds > 0) {
        advanceNanos(static_cast<int64_t>(std::llround(seconds * 1e9)));
    }
    return kCFRunLoopRunTimedOut;
}

} // extern "C"
