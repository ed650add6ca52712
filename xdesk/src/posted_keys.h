// The key presses and releases that post a keyboard event on X: which key a Mac key code types,
// which modifiers an event's flags ask for, and in what order they go down and up. Pure:
// unit-tested without a desktop.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <optional>
#include <vector>

namespace xdesk {

// The X keysym that a Mac virtual key code types; nothing for keys the platform does not post.
std::optional<unsigned long> keysymForKeyCode(CGKeyCode keyCode);

enum class Modifier { control, shift, alt };

// Where the keystroke goes: an ordinary application, or a terminal, whose program takes the
// Control+key shortcuts for itself, so that the terminal's own shortcuts add Shift (Control+Shift+V
// pastes).
enum class ShortcutStyle { desktop, terminal };

// The modifiers that an event's flags ask for. Command asks for Control (and Shift in a
// terminal): the shortcuts that are Command+key on a Mac (paste among them) are Control+key on
// Linux desktops and Control+Shift+key in terminals. Control asks for Control, Option for Alt,
// Shift for Shift; other flags ask for nothing.
std::vector<Modifier> modifiersForFlags(CGEventFlags flags, ShortcutStyle style);

// A modifier that a posted keystroke needs: its key, the modifier bits that key sets in the
// current modifier mapping, and whether the modifier is in effect already (the user holds it, or
// it is locked).
struct NeededModifier {
    unsigned keycode = 0;
    unsigned mask = 0;
    bool inEffect = false;
};

// Whether a key that types `keysym` (unshifted) holds a modifier while it is down: Shift,
// Control, Alt, Meta, Super, Hyper, and the level and group shifts (AltGr's ISO_Level3_Shift,
// ISO_Level5_Shift, Mode_switch). Locks (Caps Lock, Num Lock) are not: pressing their key again
// would change the lock.
bool holdsModifier(unsigned long keysym);

// A key that is down as a keystroke is posted and holds a modifier (holdsModifier), with the
// modifier bits it sets in the current modifier mapping.
struct HeldModifierKey {
    unsigned keycode = 0;
    unsigned mask = 0;
};

struct KeyAction {
    unsigned keycode = 0;
    bool press = false;

    bool operator==(const KeyAction& other) const {
        return keycode == other.keycode && press == other.press;
    }
};

// The key presses and releases that post one whole keystroke of `keycode`, so that the
// application sees the key with exactly the needed modifiers, and the keyboard is as it was
// afterwards: each held modifier key that sets none of the needed modifiers' bits is released;
// each needed modifier that is not in effect is pressed; the key goes down and up; the modifiers
// pressed are released in reverse order; the keys released are pressed again in reverse order.
// Held keys of the needed modifiers are left alone.
std::vector<KeyAction> keystrokeActions(unsigned keycode, const std::vector<NeededModifier>& needed,
                                        const std::vector<HeldModifierKey>& held);

} // namespace xdesk
