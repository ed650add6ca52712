#include "rules.h"

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

} // namespace xdesk
