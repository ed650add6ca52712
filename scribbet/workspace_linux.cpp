// The workspace services on the Linux desktop: the window manager's active window (in a Wayland
// session, the ACTIVE frame on the accessibility bus) stands for the frontmost application; the
// clock and the sleeps are POSIX's.
#include "scribbet/workspace.h"

#include <xdesk/desktop.h>

#include <cerrno>
#include <chrono>
#include <time.h>

namespace scribbet {

std::optional<pid_t> frontmostApplicationPid() {
    return xdesk::frontmostApplicationPid();
}

int64_t monotonicNanos() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}

void sleepNanos(int64_t nanos) {
    if (nanos <= 0) {
        return;
    }
    constexpr int64_t nanosPerSecond = 1'000'000'000;
    struct timespec left;
    left.tv_sec = static_cast<time_t>(nanos / nanosPerSecond);
    left.tv_nsec = static_cast<long>(nanos % nanosPerSecond);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The window manager's properties are read afresh on every query; there is no run loop whose
// turning would bring them up to date, so waiting is sleeping.
void waitTurningMainRunLoop(int64_t nanos) {
    sleepNanos(nanos);
}

} // namespace scribbet
