// Running the run loop on the Linux desktop: the bookkeeping and the sources are cfcore's
// (cfcore/runloop.h); here each run waits in poll(2) in real time.
//
// Running it waits on the descriptors of its sources: an event tap's X connection, and the
// descriptors of CFFileDescriptor objects whose callbacks are enabled. With nothing ready it
// sleeps, so an idle tool uses no CPU. CFRunLoopRun runs the default mode until CFRunLoopStop; on
// the main thread it does not return when it has no source: it waits, as on a Mac, whose main run
// loop's default mode stands for the main queue too.
#include <cfcore/runloop.h>

#include <poll.h>

#include <chrono>
#include <climits>
#include <optional>

namespace xdesk {
namespace {

using Clock = std::chrono::steady_clock;

// A number of released objects whose headers are kept for diagnostics once a process runs a run
// loop: enough to name a late use of anything released in the last few thousand events, and a
// bound on what a tool that runs for days keeps.
constexpr std::size_t releasedObjectsKept = 4096;

// Milliseconds that poll may wait: rounded up, so that a wait never ends before the deadline.
int pollTimeout(std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return millis > INT_MAX ? INT_MAX : static_cast<int>(millis);
}

// One run of the run loop in `mode`, until it is stopped, or the deadline has passed, or (when
// asked) a source has been served.
CFRunLoopRunResult run(const std::u16string& mode, std::optional<Clock::time_point> deadline,
                       bool returnAfterSourceHandled) {
    // A process that runs a run loop runs for long, and may make an object per event.
    cfcore::keepReleasedObjects(releasedObjectsKept);
    cfcore::beginRun();
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    for (;;) {
        if (cfcore::takeStopRequest()) {
            result = kCFRunLoopRunStopped;
            break;
        }
        if (mode != cfcore::defaultModeName && !cfcore::modeHasSources(mode)) {
            // The main thread's default mode is never empty (it stands for the main queue too);
            // another mode without sources is.
            result = kCFRunLoopRunFinished;
            break;
        }
        const int timeout = pollTimeout(deadline);
        const cfcore::Pass pass = cfcore::serveSources(mode, timeout);
        if (!pass.watched) {
            poll(nullptr, 0, timeout); // nothing to wait for but the time
        }
        if (cfcore::stopRequested()) {
            continue;
        }
        if (returnAfterSourceHandled && pass.handled) {
            result = kCFRunLoopRunHandledSource;
            break;
        }
        if (deadline && Clock::now() >= *deadline) {
            result = kCFRunLoopRunTimedOut;
            break;
        }
    }
    cfcore::endRun();
    return result;
}

} // namespace
} // namespace xdesk

extern "C" {

void CFRunLoopRun(void) {
    CFRunLoopRunResult result = kCFRunLoopRunFinished;
    do {
        result = xdesk::run(cfcore::defaultModeName, std::nullopt, false);
    } while (result != kCFRunLoopRunStopped && result != kCFRunLoopRunFinished);
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
    const std::u16string name = cfcore::stringText(mode, "CFRunLoopRunInMode");
    std::optional<xdesk::Clock::time_point> deadline = xdesk::Clock::now();
    constexpr CFTimeInterval forever = 1e9; // seconds: some thirty years, as good as no deadline
    if (seconds >= forever) {
        deadline.reset();
    } else if (seconds > 0) {
        *deadline += std::chrono::duration_cast<xdesk::Clock::duration>(
            std::chrono::duration<double>(seconds));
    }
    return xdesk::run(name, deadline, returnAfterSourceHandled != 0);
}

} // extern "C"
