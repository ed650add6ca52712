// Operating-system services that fast paste waits on: the frontmost application, a monotonic
// clock and two kinds of wait. On macOS they come from AppKit and Foundation (workspace.mm); on the
// Linux desktop from its window manager (workspace_linux.cpp); with the simulated platform from
// that (workspace_sim.cpp). Decisions stay with the callers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace scribbet {

// The process identifier that the frontmost application reports, as the platform reports it
// (an application without a pid reports -1); nothing when no application is frontmost.
[[nodiscard]] std::optional<pid_t> frontmostApplicationPid();

// Nanoseconds on a monotonic clock: a change of the wall clock neither stretches nor cuts a wait.
[[nodiscard]] int64_t monotonicNanos();

// Blocks the thread for `nanos`; the run loop is not turned.
void sleepNanos(int64_t nanos);

// Blocks the main thread for `nanos` while turning the main run loop in its default mode, so that
// AppKit's view of the running applications (the frontmost one among them) stays current; when the
// run loop has nothing to run, the rest of the interval is slept out. Main thread only.
void waitTurningMainRunLoop(int64_t nanos);

} // namespace scribbet
