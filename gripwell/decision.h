// The decision gripwell takes for one tapped event: pure, allocation-free, and cheap, because
// every key-down and flags change of the whole session waits for it.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace gripwell {

inline constexpr int64_t spaceKeyCode = 49;

// Every line gripwell ever writes.
enum class Line {
    ready,
    down,
    up,
    comboSpace,
    accessibilityNotGranted,
    eventTapFailed,
    runLoopSourceFailed,
};

// The line's bytes as written, with its line feed.
[[nodiscard]] std::string_view lineBytes(Line line) noexcept;

// The fields of one tapped event that the decision looks at. For a type that the decision does
// not test a field of, that field may be left at zero.
struct KeyEvent {
    CGEventType type = kCGEventNull;
    CGEventFlags flags = 0;
    int64_t keycode = 0;
    int64_t autorepeat = 0;
};

struct HoldState {
    CGEventFlags mask = kCGEventFlagMaskAlternate; // the watched modifier's flag
    bool isDown = false;                           // as last reported
};

struct Decision {
    HoldState state;
    std::optional<Line> line;
    bool reenableTap = false; // the system has disabled the tap
};

// Flags changed: the modifier counts as held when all of `mask` is set; a change of that against
// `isDown` gives "down" or "up". Key down: "combo_space" for a fresh (not auto-repeated) space
// press while held; the key-down's own flags are not looked at. A tap-disabled notice asks for
// the tap to be re-enabled and leaves the state as it is. Anything else: nothing.
[[nodiscard]] Decision decide(const KeyEvent& event, HoldState state) noexcept;

} // namespace gripwell
