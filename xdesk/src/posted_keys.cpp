#include "posted_keys.h"

#include <X11/keysym.h>

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

std::vector<Modifier> modifiersForFlags(CGEventFlags flags, ShortcutStyle style) {
    std::vector<Modifier> out;
    const bool command = (flags & kCGEventFlagMaskCommand) != 0;
    if (command || (flags & kCGEventFlagMaskControl) != 0) {
        out.push_back(Modifier::control);
    }
    if ((flags & kCGEventFlagMaskShift) != 0 || (command && style == ShortcutStyle::terminal)) {
        out.push_back(Modifier::shift);
    }
    if ((flags & kCGEventFlagMaskAlternate) != 0) {
        out.push_back(Modifier::alt);
    }
    return out;
}

bool holdsModifier(unsigned long keysym) {
    switch (keysym) {
    case XK_Shift_L:
    case XK_Shift_R:
    case XK_Control_L:
    case XK_Control_R:
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
    case XK_Super_L:
    case XK_Super_R:
    case XK_Hyper_L:
    case XK_Hyper_R:
    case XK_ISO_Level3_Shift:
    case XK_ISO_Level5_Shift:
    case XK_Mode_switch:
        return true;
    default:
        return false;
    }
}

std::vector<KeyAction> keystrokeActions(unsigned keycode, const std::vector<NeededModifier>& needed,
                                        const std::vector<HeldModifierKey>& held) {
    unsigned neededMask = 0;
    for (const NeededModifier& modifier : needed) {
        neededMask |= modifier.mask;
    }
    std::vector<unsigned> released;
    for (const HeldModifierKey& key : held) {
        const bool known =
            std::find(released.begin(), released.end(), key.keycode) != released.end();
        if ((key.mask & neededMask) == 0 && key.keycode != keycode && !known) {
            released.push_back(key.keycode);
        }
    }
    std::vector<unsigned> pressed;
    for (const NeededModifier& modifier : needed) {
        const bool known =
            std::find(pressed.begin(), pressed.end(), modifier.keycode) != pressed.end();
        if (!modifier.inEffect && !known) {
            pressed.push_back(modifier.keycode);
        }
    }
    std::vector<KeyAction> actions;
    for (unsigned key : released) {
        actions.push_back({key, false});
    }
    for (unsigned key : pressed) {
        actions.push_back({key, true});
    }
    actions.push_back({keycode, true});
    actions.push_back({keycode, false});
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
        actions.push_back({*it, false});
    }
    for (auto it = released.rbegin(); it != released.rend(); ++it) {
        actions.push_back({*it, true});
    }
    return actions;
}

} // namespace xdesk
