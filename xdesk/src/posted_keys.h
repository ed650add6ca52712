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

// The modifiers that an event's flags ask for. Command and Control both ask for Control: the
// shortcuts that are Command+key on a Mac (paste among them) are Control+key on Linux desktops.
// Option asks for Alt, Shift for Shift; other flags ask for nothing.
std::vector<Modifier> modifiersForFlags(CGEventFlags flags);

// A modifier that a posted event needs: its key, and whether it is in effect already (the user
// holds it, or it is locked).
struct NeededModifier {
    unsigned keycode = 0;
    bool inEffect = false;
};

struct KeyAction {
    unsigned keycode = 0;
    bool press = false;

    bool operator==(const KeyAction& other) const {
        return keycode == other.keycode && press == other.press;
    }
};

// The key presses and releases that post one key event. A key-down presses each needed modifier
// that is not in effect yet and remembers it in `pressedByUs`, then presses the key; a key-up
// releases the key, then exactly the modifiers remembered, in reverse order. Modifiers that the
// user holds are neither pressed nor released.
std::vector<KeyAction> keyActions(unsigned keycode, bool down,
                                  const std::vector<NeededModifier>& needed,
                                  std::vector<unsigned>& pressedByUs);

} // namespace xdesk
