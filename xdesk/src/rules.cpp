#include "rules.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>
#include <utility>

namespace xdesk {

namespace {

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units taken by the character that starts at `at`: 2 for a surrogate pair, else 1 (an unpaired
// surrogate stands for one character, as it does once written out as U+FFFD).
std::size_t unitsOfCharacterAt(std::u16string_view text, std::size_t at) {
    return isHighSurrogate(text[at]) && at + 1 < text.size() && isLowSurrogate(text[at + 1]) ? 2
                                                                                             : 1;
}

struct RoleEntry {
    std::string_view atspi;
    std::string_view mac;
};

// Roles that map one to one. "text", "entry" and "password text" depend on more than the name
// and are decided in macRoleFor.
constexpr std::array<RoleEntry, 27> plainRoles = {{
    {"application", "AXApplication"},
    {"frame", "AXWindow"},
    {"window", "AXWindow"},
    {"dialog", "AXWindow"},
    {"document text", "AXTextArea"},
    {"terminal", "AXTextArea"},
    {"document web", "AXWebArea"},
    {"combo box", "AXComboBox"},
    {"push button", "AXButton"},
    {"toggle button", "AXCheckBox"},
    {"check box", "AXCheckBox"},
    {"radio button", "AXRadioButton"},
    {"spin button", "AXIncrementor"},
    {"slider", "AXSlider"},
    {"label", "AXStaticText"},
    {"static", "AXStaticText"},
    {"panel", "AXGroup"},
    {"filler", "AXGroup"},
    {"paragraph", "AXGroup"},
    {"scroll pane", "AXScrollArea"},
    {"list", "AXList"},
    {"table", "AXTable"},
    {"menu bar", "AXMenuBar"},
    {"menu", "AXMenu"},
    {"menu item", "AXMenuItem"},
    {"tool bar", "AXToolbar"},
    {"link", "AXLink"},
}};

// Offset between the kernel's key codes and X's on Linux.
constexpr unsigned evdevOffset = 8;

struct KeyEntry {
    unsigned kernelCode;
    int64_t macCode;
};

// Kernel key code (linux/input-event-codes.h) to the Mac's virtual key code (HIToolbox's kVK_*)
// of the key at the same place. Caps Lock is left out: on a Mac it changes flags rather than
// going down and up.
constexpr KeyEntry positionalKeys[] = {
    {KEY_A, 0x00},         {KEY_S, 0x01},          {KEY_D, 0x02},         {KEY_F, 0x03},
    {KEY_H, 0x04},         {KEY_G, 0x05},          {KEY_Z, 0x06},         {KEY_X, 0x07},
    {KEY_C, 0x08},         {KEY_V, 0x09},          {KEY_B, 0x0B},         {KEY_Q, 0x0C},
    {KEY_W, 0x0D},         {KEY_E, 0x0E},          {KEY_R, 0x0F},         {KEY_Y, 0x10},
    {KEY_T, 0x11},         {KEY_1, 0x12},          {KEY_2, 0x13},         {KEY_3, 0x14},
    {KEY_4, 0x15},         {KEY_6, 0x16},          {KEY_5, 0x17},         {KEY_EQUAL, 0x18},
    {KEY_9, 0x19},         {KEY_7, 0x1A},          {KEY_MINUS, 0x1B},     {KEY_8, 0x1C},
    {KEY_0, 0x1D},         {KEY_RIGHTBRACE, 0x1E}, {KEY_O, 0x1F},         {KEY_U, 0x20},
    {KEY_LEFTBRACE, 0x21}, {KEY_I, 0x22},          {KEY_P, 0x23},         {KEY_L, 0x25},
    {KEY_J, 0x26},         {KEY_APOSTROPHE, 0x27}, {KEY_K, 0x28},         {KEY_SEMICOLON, 0x29},
    {KEY_BACKSLASH, 0x2A}, {KEY_COMMA, 0x2B},      {KEY_SLASH, 0x2C},     {KEY_N, 0x2D},
    {KEY_M, 0x2E},         {KEY_DOT, 0x2F},        {KEY_GRAVE, 0x32},     {KEY_ENTER, 0x24},
    {KEY_TAB, 0x30},       {KEY_SPACE, 0x31},      {KEY_BACKSPACE, 0x33}, {KEY_ESC, 0x35},
    {KEY_F1, 0x7A},        {KEY_F2, 0x78},         {KEY_F3, 0x63},        {KEY_F4, 0x76},
    {KEY_F5, 0x60},        {KEY_F6, 0x61},         {KEY_F7, 0x62},        {KEY_F8, 0x64},
    {KEY_F9, 0x65},        {KEY_F10, 0x6D},        {KEY_F11, 0x67},       {KEY_F12, 0x6F},
    {KEY_INSERT, 0x72},    {KEY_HOME, 0x73},       {KEY_PAGEUP, 0x74},    {KEY_DELETE, 0x75},
    {KEY_END, 0x77},       {KEY_PAGEDOWN, 0x79},   {KEY_LEFT, 0x7B},      {KEY_RIGHT, 0x7C},
    {KEY_DOWN, 0x7D},      {KEY_UP, 0x7E},         {KEY_KPDOT, 0x41},     {KEY_KPASTERISK, 0x43},
    {KEY_KPPLUS, 0x45},    {KEY_NUMLOCK, 0x47},    {KEY_KPSLASH, 0x4B},   {KEY_KPENTER, 0x4C},
    {KEY_KPMINUS, 0x4E},   {KEY_KPEQUAL, 0x51},    {KEY_KP0, 0x52},       {KEY_KP1, 0x53},
    {KEY_KP2, 0x54},       {KEY_KP3, 0x55},        {KEY_KP4, 0x56},       {KEY_KP5, 0x57},
    {KEY_KP6, 0x58},       {KEY_KP7, 0x59},        {KEY_KP8, 0x5B},       {KEY_KP9, 0x5C},
    {KEY_LEFTSHIFT, 0x38}, {KEY_RIGHTSHIFT, 0x3C}, {KEY_LEFTCTRL, 0x3B},  {KEY_RIGHTCTRL, 0x3E},
    {KEY_LEFTALT, 0x3A},   {KEY_RIGHTALT, 0x3D},   {KEY_LEFTMETA, 0x37},  {KEY_RIGHTMETA, 0x36},
};

constexpr std::array<int64_t, 256> macKeyCodes = [] {
    std::array<int64_t, 256> codes{};
    for (int64_t& code : codes) {
        code = noMacKeyCode;
    }
    for (const KeyEntry& entry : positionalKeys) {
        codes[entry.kernelCode + evdevOffset] = entry.macCode;
    }
    return codes;
}();

struct ModifierBits {
    CGEventFlags kind; // device-independent
    CGEventFlags side; // device-dependent (IOLLEvent.h's NX_DEVICE*KEYMASK)
    int64_t macKeyCode;
};

ModifierBits bitsOf(MacModifierKey key) {
    switch (key) {
    case MacModifierKey::leftShift:
        return {kCGEventFlagMaskShift, 0x02, 0x38};
    case MacModifierKey::rightShift:
        return {kCGEventFlagMaskShift, 0x04, 0x3C};
    case MacModifierKey::leftControl:
        return {kCGEventFlagMaskControl, 0x01, 0x3B};
    case MacModifierKey::rightControl:
        return {kCGEventFlagMaskControl, 0x2000, 0x3E};
    case MacModifierKey::leftOption:
        return {kCGEventFlagMaskAlternate, 0x20, 0x3A};
    case MacModifierKey::rightOption:
        return {kCGEventFlagMaskAlternate, 0x40, 0x3D};
    case MacModifierKey::leftCommand:
        return {kCGEventFlagMaskCommand, 0x08, 0x37};
    case MacModifierKey::rightCommand:
        return {kCGEventFlagMaskCommand, 0x10, 0x36};
    case MacModifierKey::none:
        break;
    }
    return {0, 0, noMacKeyCode};
}

bool isUtf8(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        std::size_t length = 0;
        uint32_t point = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - at < length) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(bytes[at + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
        if (overlong || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
            return false;
        }
        at += length;
    }
    return true;
}

// An empty text is no text.
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

long unitsForCharacters(std::u16string_view text, long characters) {
    if (characters <= 0) {
        return characters;
    }
    std::size_t at = 0;
    long counted = 0;
    while (counted < characters && at < text.size()) {
        at += unitsOfCharacterAt(text, at);
        ++counted;
    }
    return static_cast<long>(at) + (characters - counted);
}

long charactersForUnits(std::u16string_view text, long units, InsidePair insidePair) {
    if (units <= 0) {
        return units;
    }
    const auto wanted = static_cast<std::size_t>(units);
    std::size_t at = 0;
    long characters = 0;
    while (at < wanted && at < text.size()) {
        const std::size_t width = unitsOfCharacterAt(text, at);
        if (at + width > wanted) { // `wanted` falls between the units of this pair
            return insidePair == InsidePair::before ? characters : characters + 1;
        }
        at += width;
        ++characters;
    }
    return characters + static_cast<long>(wanted - at);
}

CharacterRange charactersForRange(std::u16string_view text, CFRange units) {
    const long start = charactersForUnits(text, units.location, InsidePair::before);
    if (units.length == 0) {
        return {start, start};
    }
    return {start, charactersForUnits(text, units.location + units.length, InsidePair::after)};
}

MacRole macRoleFor(std::string_view atspiRole, TextLines lines) {
    if (atspiRole == "password text") {
        return {"AXTextField", "AXSecureTextField"};
    }
    // GTK 3's entry and text view are both "text"; other toolkits call an entry "entry" and mark
    // a multi-line one. A text that says neither is taken as multi-line, an entry as single-line.
    if (atspiRole == "text") {
        return {lines.singleLine ? "AXTextField" : "AXTextArea", std::nullopt};
    }
    if (atspiRole == "entry") {
        return {lines.multiLine ? "AXTextArea" : "AXTextField", std::nullopt};
    }
    for (const RoleEntry& entry : plainRoles) {
        if (entry.atspi == atspiRole) {
            return {entry.mac, std::nullopt};
        }
    }
    return {"AXUnknown", std::nullopt};
}

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

MacModifierKey macModifierFor(unsigned long keysym) {
    switch (keysym) {
    case XK_Shift_L:
        return MacModifierKey::leftShift;
    case XK_Shift_R:
        return MacModifierKey::rightShift;
    case XK_Control_L:
        return MacModifierKey::leftControl;
    case XK_Control_R:
        return MacModifierKey::rightControl;
    case XK_Alt_L:
    case XK_Meta_L:
        return MacModifierKey::leftOption;
    case XK_Alt_R:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift:
        return MacModifierKey::rightOption;
    case XK_Super_L:
        return MacModifierKey::leftCommand;
    case XK_Super_R:
        return MacModifierKey::rightCommand;
    default:
        return MacModifierKey::none;
    }
}

int64_t macKeyCodeFor(MacModifierKey key) {
    return bitsOf(key).macKeyCode;
}

int64_t macKeyCodeFor(unsigned xKeycode) {
    return xKeycode < macKeyCodes.size() ? macKeyCodes[xKeycode] : noMacKeyCode;
}

CGEventFlags heldFlags(const TapKeyboard& keyboard) {
    CGEventFlags flags = 0;
    for (std::size_t keycode = 0; keycode < keyboard.modifiers.size(); ++keycode) {
        if (keyboard.modifiers[keycode] != MacModifierKey::none && keyboard.held[keycode]) {
            const ModifierBits bits = bitsOf(keyboard.modifiers[keycode]);
            flags |= bits.kind | bits.side;
        }
    }
    return flags;
}

std::optional<TapEvent> tapEventFor(TapKeyboard& keyboard, unsigned xKeycode, bool press,
                                    bool xRepeat) {
    if (xKeycode >= keyboard.modifiers.size()) {
        return std::nullopt;
    }
    const bool heldBefore = keyboard.held[xKeycode];
    keyboard.held[xKeycode] = press;
    const MacModifierKey modifier = keyboard.modifiers[xKeycode];
    TapEvent event;
    event.flags = heldFlags(keyboard);
    if (modifier != MacModifierKey::none) {
        event.type = kCGEventFlagsChanged;
        event.keycode = macKeyCodeFor(modifier);
        return event;
    }
    event.type = press ? kCGEventKeyDown : kCGEventKeyUp;
    event.keycode = macKeyCodeFor(xKeycode);
    event.autorepeat = press && (xRepeat || heldBefore) ? 1 : 0;
    return event;
}

std::string textPropertyUtf8(std::string_view bytes) {
    if (isUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

RunningApplication applicationFor(const WindowFacts& window) {
    RunningApplication application;
    application.processIdentifier = window.pid;
    if (window.wmClass) {
        // The class follows the instance's terminating NUL and ends at its own.
        const std::string_view stored = *window.wmClass;
        const std::size_t instanceEnd = stored.find('\0');
        if (instanceEnd != std::string_view::npos) {
            std::string_view windowClass = stored.substr(instanceEnd + 1);
            windowClass = windowClass.substr(0, windowClass.find('\0'));
            application.localizedName = nonEmpty(textPropertyUtf8(windowClass));
        }
    }
    if (window.gtkApplicationId) {
        application.bundleIdentifier = nonEmpty(textPropertyUtf8(*window.gtkApplicationId));
    }
    if (!application.bundleIdentifier) {
        application.bundleIdentifier = application.localizedName;
    }
    if (window.executablePath) {
        std::string_view path = *window.executablePath;
        constexpr std::string_view replaced = " (deleted)";
        if (path.size() > replaced.size() &&
            path.substr(path.size() - replaced.size()) == replaced) {
            path.remove_suffix(replaced.size());
        }
        const std::size_t slash = path.rfind('/');
        if (slash != std::string_view::npos) {
            path.remove_prefix(slash + 1);
        }
        application.executableName = nonEmpty(textPropertyUtf8(path));
    }
    return application;
}

bool isActivation(std::optional<pid_t>& current, std::optional<pid_t> activeWindowPid) {
    if (!activeWindowPid || activeWindowPid == current) {
        return false;
    }
    current = activeWindowPid;
    return true;
}

} // namespace xdesk
