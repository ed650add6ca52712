// The pure rules of the Linux desktop platform: text offsets between AT-SPI's characters and the
// tools' UTF-16 units, the table from AT-SPI roles to the Mac's, and the key presses that post a
// keyboard event. Nothing here talks to the desktop, so all of it is unit-tested without one.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <optional>
#include <string_view>
#include <vector>

namespace xdesk {

// ---- Text offsets -------------------------------------------------------------------------------
// AT-SPI counts characters (code points); the Mac and the tools count UTF-16 units, in which a
// character outside the Basic Multilingual Plane counts two. Both conversions run over the text
// itself. Offsets past the end of the text go on at one unit per character, so an offset out of
// range stays out of range; negative offsets are returned unchanged.

// UTF-16 units in the first `characters` characters of `text`.
long unitsForCharacters(std::u16string_view text, long characters);

// Where a UTF-16 offset between the two units of a surrogate pair lands: on the character
// boundary before the pair, or after it.
enum class InsidePair { before, after };

// Characters in the first `units` UTF-16 units of `text`.
long charactersForUnits(std::u16string_view text, long units, InsidePair insidePair);

// A selection in characters, as AT-SPI takes it.
struct CharacterRange {
    long start = 0;
    long end = 0;
};

// A UTF-16 range in characters. A range that cuts a surrogate pair grows to take in the whole
// character at either end; a caret (length 0) inside a pair goes before it.
CharacterRange charactersForRange(std::u16string_view text, CFRange units);

// ---- Roles --------------------------------------------------------------------------------------

struct MacRole {
    std::string_view role;
    std::optional<std::string_view> subrole;
};

// The AT-SPI states that tell a single-line text from a multi-line one (GTK 3 reports both its
// entry and its text view with the role "text").
struct TextLines {
    bool singleLine = false;
    bool multiLine = false;
};

// The Mac's role (and subrole) for an AT-SPI role, by the name that AT-SPI gives the role
// ("text", "password text", "push button", ...). Roles outside the table are "AXUnknown".
MacRole macRoleFor(std::string_view atspiRole, TextLines lines);

// ---- Keyboard -----------------------------------------------------------------------------------

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
