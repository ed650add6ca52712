// The workspace services on macOS: AppKit's frontmost application, the monotonic clock, and
// Foundation's sleep and run loop. Copies platform values out; decides nothing.
#include "scribbet/workspace.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <chrono>

namespace scribbet {

namespace {

NSTimeInterval secondsOf(int64_t nanos) {
    return static_cast<NSTimeInterval>(nanos) / 1e9;
}

} // namespace

std::optional<pid_t> frontmostApplicationPid() {
    @autoreleasepool {
        // AppKit refreshes this value only when the main run loop turns: see
        // waitTurningMainRunLoop.
        NSRunningApplication* application = [[NSWorkspace sharedWorkspace] frontmostApplication];
        if (application == nil) {
            return std::nullopt;
        }
        return application.processIdentifier;
    }
}

int64_t monotonicNanos() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}

void sleepNanos(int64_t nanos) {
    if (nanos > 0) {
        [NSThread sleepForTimeInterval:secondsOf(nanos)];
    }
}

void waitTurningMainRunLoop(int64_t nanos) {
    const int64_t end = monotonicNanos() + nanos;
    @autoreleasepool {
        NSRunLoop* mainRunLoop = [NSRunLoop mainRunLoop];
        // runMode:beforeDate: returns after handling one source or at the limit; NO means the
        // mode has no source or timer to wait on, so nothing would turn it before the end.
        for (int64_t left = nanos; left > 0; left = end - monotonicNanos()) {
            @autoreleasepool {
                NSDate* limit = [NSDate dateWithTimeIntervalSinceNow:secondsOf(left)];
                if (![mainRunLoop runMode:NSDefaultRunLoopMode beforeDate:limit]) {
                    break;
                }
            }
        }
    }
    sleepNanos(end - monotonicNanos());
}

} // namespace scribbet
