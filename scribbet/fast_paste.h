// Fast paste: bring the target to the front and post Command+V, so that the target pastes
// whatever the clipboard holds. Neither the text nor the clipboard is touched here.
#pragma once

#include "scribbet/response.h"

#include <cstdint>

namespace scribbet {

// Waits and timing of one run, in nanoseconds on the monotonic clock.
inline constexpr int64_t activationTimeoutNanos = 300'000'000;
inline constexpr int64_t activationPollNanos = 15'000'000;
inline constexpr int64_t keyHoldNanos = 12'000'000;        // between key-down and key-up
inline constexpr int64_t afterKeystrokeNanos = 30'000'000; // after key-up, before the report

// Recorded as frontmostPidBefore when no application is frontmost at the first sample.
inline constexpr pid_t noFrontmostPid = -1;

// Trust test; activation request; waits up to activationTimeoutNanos (polling every
// activationPollNanos) for the target to be frontmost; then posts Command+V at the HID tap.
// Reports "accessibility_not_trusted", "activation_failed", "unexpected_error"
// ("cgevent_create_failed", nothing posted) or "inserted" (the keystroke was posted; whether the
// target pasted is not observed). Every platform object it created is released by the time it
// returns. Main thread only.
[[nodiscard]] HelperResponse runFastPaste(pid_t targetPid);

} // namespace scribbet
