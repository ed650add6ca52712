#include "gripwell/decision.h"

namespace gripwell {

std::string_view lineBytes(Line line) noexcept {
    switch (line) {
    case Line::ready:
        return "ready\n";
    case Line::down:
        return "down\n";
    case Line::up:
        return "up\n";
    case Line::comboSpace:
        return "combo_space\n";
    case Line::accessibilityNotGranted:
        return "error:accessibility_not_granted\n";
    case Line::eventTapFailed:
        return "error:event_tap_failed\n";
    case Line::runLoopSourceFailed:
        return "error:runloop_source_failed\n";
    }
    return "";
}

Decision decide(const KeyEvent& event, HoldState state) noexcept {
    switch (event.type) {
    case kCGEventFlagsChanged: {
        bool pressed = (event.flags & state.mask) == state.mask;
        if (pressed == state.isDown) {
            return {state, std::nullopt};
        }
        state.isDown = pressed;
        return {state, pressed ? Line::down : Line::up};
    }
    case kCGEventKeyDown:
        // The auto-repeat field is documented as non-zero for a repeat; macOS sets it to 1.
        if (state.isDown && event.keycode == spaceKeyCode && event.autorepeat == 0) {
            return {state, Line::comboSpace};
        }
        return {state, std::nullopt};
    case kCGEventTapDisabledByTimeout:
    case kCGEventTapDisabledByUserInput:
        return {state, std::nullopt, true};
    default:
        return {state, std::nullopt};
    }
}

} // namespace gripwell
