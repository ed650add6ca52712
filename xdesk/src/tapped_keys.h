// The events that an event tap makes of X's key presses: the Mac's key codes and modifier flags
// for X key codes. Pure: unit-tested without a desktop.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

namespace xdesk {

// X reports a key by its key code alone; the tap gives each press and release the event that a
// Mac would deliver, with the Mac's key code and modifier flags.

// The modifier keys of a Mac, each side apart.
enum class MacModifierKey : unsigned char {
    none,
    leftShift,
    rightShift,
    leftControl,
    rightControl,
    leftOption,
    rightOption,
    leftCommand,
    rightCommand,
};

// The Mac modifier key that an X key stands for, by the keysym it types without modifiers: Shift,
// Control, Alt and Meta (Option; AltGr, ISO_Level3_Shift, as the right Option key, which types
// the third level on a Mac), Super (Command). Anything else, Caps Lock included, is none.
MacModifierKey macModifierFor(unsigned long keysym);

// The Mac's virtual key code for a modifier key (kVK_Shift, kVK_RightOption, ...).
int64_t macKeyCodeFor(MacModifierKey key);

// Given to keys that have no Mac counterpart in the table; no Mac key has this code.
inline constexpr int64_t noMacKeyCode = 0xFFFF;

// The Mac's virtual key code for the key at an X key code. Key codes name positions on both: X
// servers on Linux number keys as the kernel does plus 8, and a Mac names the key at the same
// place, whatever the layout types there (the space bar is 49). Letters, digits, punctuation,
// the space bar, return, tab, backspace, escape, the function keys F1 to F12, the arrows and the
// keys above them, and the keypad; anything else is noMacKeyCode.
int64_t macKeyCodeFor(unsigned xKeycode);

// What the tap knows of the keyboard: the Mac modifier key that each X key code stands for, and
// the keys that are held.
struct TapKeyboard {
    std::array<MacModifierKey, 256> modifiers{};
    std::bitset<256> held;
};

// One event as a Mac's tap receives it.
struct TapEvent {
    CGEventType type = kCGEventNull;
    CGEventFlags flags = 0;
    int64_t keycode = 0;
    int64_t autorepeat = 0;

    bool operator==(const TapEvent& other) const {
        return type == other.type && flags == other.flags && keycode == other.keycode &&
               autorepeat == other.autorepeat;
    }
};

// The flags of the held modifier keys: for each, the device-independent bit of its kind
// (kCGEventFlagMaskShift, ...) and the device-dependent bit of its side, as a Mac's flags carry
// both.
CGEventFlags heldFlags(const TapKeyboard& keyboard);

// Takes one press or release of an X key into `keyboard` and gives the event that a Mac would
// deliver for it. A modifier key makes a flags-changed event whose flags are those held after
// it. Any other key makes a key-down or key-up with the held modifiers' flags; a press is an
// auto-repeat (1) when X marks it as one or when the key is held already. Nothing for a key code
// outside X's range.
std::optional<TapEvent> tapEventFor(TapKeyboard& keyboard, unsigned xKeycode, bool press,
                                    bool xRepeat);

} // namespace xdesk
