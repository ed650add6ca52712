#include "posted_keys.h"

#include <algorithm>

namespace xdesk {

std::optional<unsigned long> keysymForKeyCode(CGKeyCode keyCode) {
    constexpr CGKeyCode ansiV = 9;      // kVK_ANSI_V
    constexpr unsigned long xkV = 0x76; // XK_v
    if (keyCode == ansiV) {
        return xkV;
    }
    return std::nullopt;
}

std::vector<Modifier> modifiersForFlags(CGEventFlags flags) {
    std::vector<Modifier> out;
    if ((flags & (kCGEventFlagMaskCommand | kCGEventFlagMaskControl)) != 0) {
        out.push_back(Modifier::control);
    }
    if ((flags & kCGEventFlagMaskShift) != 0) {
        out.push_back(Modifier::shift);
    }
    if ((flags & kCGEventFlagMaskAlternate) != 0) {
        out.push_back(Modifier::alt);
    }
    return out;
}

std::vector<KeyAction> keyActions(unsigned keycode, bool down,
                                  const std::vector<NeededModifier>& needed,
                                  std::vector<unsigned>& pressedByUs) {
    std::vector<KeyAction> actions;
    if (down) {
        for (const NeededModifier& modifier : needed) {
            const bool pressedAlready = std::find(pressedByUs.begin(), pressedByUs.end(),
                                                  modifier.keycode) != pressedByUs.end();
            if (!modifier.inEffect && !pressedAlready) {
                actions.push_back({modifier.keycode, true});
                pressedByUs.push_back(modifier.keycode);
            }
        }
        actions.push_back({keycode, true});
        return actions;
    }
    actions.push_back({keycode, false});
    for (auto it = pressedByUs.rbegin(); it != pressedByUs.rend(); ++it) {
        actions.push_back({*it, false});
    }
    pressedByUs.clear();
    return actions;
}

} // namespace xdesk
