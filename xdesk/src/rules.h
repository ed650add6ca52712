// The pure rules of the Linux desktop platform: text offsets between AT-SPI's characters and the
// tools' UTF-16 units, the table from AT-SPI roles to the Mac's, the key presses that post a
// keyboard event, the events that an event tap makes of X's key presses, and what an active
// window says of its application. Nothing here talks to the desktop, so all of it is unit-tested
// without one.
#pragma once

#include <CoreGraphics/CoreGraphics.h>
#include <xdesk/desktop.h>

#include <sys/types.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
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

// ---- Keys seen by an event tap ------------------------------------------------------------------
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

// ---- Application activations --------------------------------------------------------------------

// What the window manager's active window says of its application.
struct WindowFacts {
    pid_t pid = -1;                              // _NET_WM_PID
    std::optional<std::string> wmClass;          // WM_CLASS as stored: instance, NUL, class, NUL
    std::optional<std::string> gtkApplicationId; // _GTK_APPLICATION_ID
    std::optional<std::string> executablePath;   // where /proc/PID/exe leads
};

// The running application of a window: the bundle identifier is _GTK_APPLICATION_ID, or else the
// class part of WM_CLASS; the localized name is that class part; the executable name is the last
// path component of the executable (without the " (deleted)" that Linux adds to a replaced
// one). An empty text counts as none. Texts that are not UTF-8 are read as Latin-1, the encoding
// of X's STRING properties.
RunningApplication applicationFor(const WindowFacts& window);

// Whether the active window's process makes an application activation, and if so takes it as
// the current application. No window, or a window without a process, is none and leaves the
// current application as it is; a window of the current application is a window switch.
bool isActivation(std::optional<pid_t>& current, std::optional<pid_t> activeWindowPid);

// Bytes of a text property as UTF-8: as they are when they are UTF-8, else read as Latin-1.
std::string textPropertyUtf8(std::string_view bytes);

} // namespace xdesk
