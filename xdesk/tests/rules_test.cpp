// The Linux desktop's pure rules: the offsets that AT-SPI and the tools exchange, the role table,
// the key presses behind a posted keyboard event, the events an event tap makes of X's keys, and
// what an active window says of its application.
#include "rules.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using xdesk::InsidePair;

// "a", U+1F600 (two units), "b", "e" + U+0301 (a combining mark, one unit of its own).
const std::u16string mixed = u"a\U0001F600be\u0301";

// The desktop tests splice beside an emoji and a combining mark on a real GTK entry; these are the
// offsets no application reports: past the end, negative, and inside a pair.
TEST(TextOffsets, CharactersAndUnitsConvertBothWaysWithTwoUnitsForAnEmoji) {
    const struct {
        long characters;
        long units;
    } rows[] = {{0, 0},
                {1, 1},
                {2, 3},
                {3, 4},
                {5, 6},
                // past the end: one unit per character, so still out of range
                {6, 7},
                {9, 10},
                // negative: unchanged, for the caller to refuse
                {-1, -1}};
    for (const auto& row : rows) {
        EXPECT_EQ(xdesk::unitsForCharacters(mixed, row.characters), row.units) << row.characters;
        EXPECT_EQ(xdesk::charactersForUnits(mixed, row.units, InsidePair::before), row.characters);
        EXPECT_EQ(xdesk::charactersForUnits(mixed, row.units, InsidePair::after), row.characters);
    }
    // Unit 2 is the second half of the emoji, which is character 1.
    EXPECT_EQ(xdesk::charactersForUnits(mixed, 2, InsidePair::before), 1);
    EXPECT_EQ(xdesk::charactersForUnits(mixed, 2, InsidePair::after), 2);
    // A text that ends with half a pair: the lone surrogate counts as one character.
    EXPECT_EQ(xdesk::unitsForCharacters(u"x\xD83D", 2), 2);
    EXPECT_EQ(xdesk::charactersForUnits(u"x\xD83D", 2, InsidePair::before), 2);
}

struct RangeRow {
    const char* what;
    CFRange units;
    long start;
    long end;
};

TEST(TextOffsets, RangesTakeInWholeCharacters) {
    const RangeRow rows[] = {
        {"caret inside the emoji goes before it", {2, 0}, 1, 1},
        {"start inside the emoji grows back", {2, 2}, 1, 3},
        {"end inside the emoji grows on", {0, 2}, 0, 2},
        {"everything", {0, 6}, 0, 5},
        {"caret at the end", {6, 0}, 5, 5},
    };
    for (const RangeRow& row : rows) {
        const xdesk::CharacterRange range = xdesk::charactersForRange(mixed, row.units);
        EXPECT_EQ(range.start, row.start) << row.what;
        EXPECT_EQ(range.end, row.end) << row.what;
    }
}

struct RoleRow {
    const char* atspi;
    xdesk::TextLines lines;
    const char* role;
    const char* subrole; // nullptr: none
};

// Each role ends up in scribbet's result line. GTK's entry, text view, password entry and button
// are also what the desktop tests show.
TEST(Roles, TableOfAtspiRoles) {
    const RoleRow rows[] = {
        {"text", {true, false}, "AXTextField", nullptr},   // GTK 3 entry
        {"text", {false, true}, "AXTextArea", nullptr},    // GTK 3 text view
        {"text", {false, false}, "AXTextArea", nullptr},   // says neither
        {"entry", {false, false}, "AXTextField", nullptr}, // browsers' input
        {"entry", {false, true}, "AXTextArea", nullptr},   // browsers' textarea
        {"password text", {true, false}, "AXTextField", "AXSecureTextField"},
        {"document text", {false, true}, "AXTextArea", nullptr},
        {"terminal", {}, "AXTextArea", nullptr},
        {"document web", {}, "AXWebArea", nullptr},
        {"combo box", {}, "AXComboBox", nullptr},
        {"push button", {}, "AXButton", nullptr},
        {"frame", {}, "AXWindow", nullptr},
        {"application", {}, "AXApplication", nullptr},
        {"spin button", {true, false}, "AXIncrementor", nullptr},
        {"filler", {}, "AXGroup", nullptr},
        {"Text", {true, false}, "AXUnknown", nullptr}, // names compare exactly
        {"unknown", {}, "AXUnknown", nullptr},
        {"", {}, "AXUnknown", nullptr},
    };
    for (const RoleRow& row : rows) {
        const xdesk::MacRole mac = xdesk::macRoleFor(row.atspi, row.lines);
        EXPECT_EQ(mac.role, row.role) << row.atspi;
        EXPECT_EQ(mac.subrole.has_value(), row.subrole != nullptr) << row.atspi;
        if (mac.subrole && row.subrole != nullptr) {
            EXPECT_EQ(*mac.subrole, row.subrole) << row.atspi;
        }
    }
}

TEST(Keyboard, CommandAsksForControl) {
    using xdesk::Modifier;
    using Modifiers = std::vector<Modifier>;
    EXPECT_EQ(xdesk::modifiersForFlags(kCGEventFlagMaskCommand | kCGEventFlagMaskControl),
              Modifiers{Modifier::control});
    EXPECT_EQ(xdesk::modifiersForFlags(kCGEventFlagMaskCommand | kCGEventFlagMaskShift |
                                       kCGEventFlagMaskAlternate),
              (Modifiers{Modifier::control, Modifier::shift, Modifier::alt}));
    EXPECT_EQ(xdesk::modifiersForFlags(kCGEventFlagMaskNonCoalesced | kCGEventFlagMaskSecondaryFn),
              Modifiers{});
}

constexpr unsigned keyV = 55;
constexpr unsigned controlL = 37;
constexpr unsigned shiftL = 50;

TEST(Keyboard, PressesControlOnlyWhenNotHeldAndReleasesOnlyWhatItPressed) {
    using Actions = std::vector<xdesk::KeyAction>;
    std::vector<unsigned> pressedByUs;

    EXPECT_EQ(xdesk::keyActions(keyV, true, {{controlL, false}}, pressedByUs),
              (Actions{{controlL, true}, {keyV, true}}));
    EXPECT_EQ(xdesk::keyActions(keyV, false, {{controlL, false}}, pressedByUs),
              (Actions{{keyV, false}, {controlL, false}}));
    EXPECT_TRUE(pressedByUs.empty());

    // The user holds Control: it is neither pressed nor released.
    EXPECT_EQ(xdesk::keyActions(keyV, true, {{controlL, true}}, pressedByUs),
              (Actions{{keyV, true}}));
    EXPECT_EQ(xdesk::keyActions(keyV, false, {{controlL, true}}, pressedByUs),
              (Actions{{keyV, false}}));

    // Two modifiers pressed come off in reverse order; a held one is left alone.
    EXPECT_EQ(xdesk::keyActions(keyV, true, {{controlL, false}, {shiftL, false}}, pressedByUs),
              (Actions{{controlL, true}, {shiftL, true}, {keyV, true}}));
    EXPECT_EQ(xdesk::keyActions(keyV, false, {}, pressedByUs),
              (Actions{{keyV, false}, {shiftL, false}, {controlL, false}}));

    // A key-up with no key-down before it releases only the key.
    EXPECT_EQ(xdesk::keyActions(keyV, false, {{controlL, false}}, pressedByUs),
              (Actions{{keyV, false}}));
}

// X key codes of the virtual desktop's keyboard (the kernel's codes plus 8).
constexpr unsigned xSpace = 65;
constexpr unsigned xA = 38;
constexpr unsigned xShiftL = 50;
constexpr unsigned xShiftR = 62;
constexpr unsigned xAltL = 64;
constexpr unsigned xAltR = 108;
constexpr unsigned xControlR = 105;
constexpr unsigned xSuperL = 133;

// Each modifier's keys on either side are the desktop tests' to press; these type a modifier too,
// or do not.
TEST(TappedKeys, ModifierKeysByWhatTheyType) {
    using xdesk::MacModifierKey;
    EXPECT_EQ(xdesk::macModifierFor(XK_Meta_L), MacModifierKey::leftOption);
    EXPECT_EQ(xdesk::macModifierFor(XK_ISO_Level3_Shift), MacModifierKey::rightOption);
    EXPECT_EQ(xdesk::macModifierFor(XK_Caps_Lock), MacModifierKey::none);
    EXPECT_EQ(xdesk::macModifierFor(XK_space), MacModifierKey::none);
}

xdesk::TapKeyboard usKeyboard() {
    using xdesk::MacModifierKey;
    xdesk::TapKeyboard keyboard;
    keyboard.modifiers[xShiftL] = MacModifierKey::leftShift;
    keyboard.modifiers[xShiftR] = MacModifierKey::rightShift;
    keyboard.modifiers[xAltL] = MacModifierKey::leftOption;
    keyboard.modifiers[xAltR] = MacModifierKey::rightOption;
    keyboard.modifiers[xControlR] = MacModifierKey::rightControl;
    keyboard.modifiers[xSuperL] = MacModifierKey::leftCommand;
    return keyboard;
}

constexpr CGEventFlags leftOption = kCGEventFlagMaskAlternate | 0x20;
constexpr CGEventFlags rightOption = kCGEventFlagMaskAlternate | 0x40;
constexpr CGEventFlags leftShift = kCGEventFlagMaskShift | 0x02;
constexpr CGEventFlags rightShift = kCGEventFlagMaskShift | 0x04;

TEST(TappedKeys, EachPressOrReleaseIsTheEventAMacDelivers) {
    using xdesk::TapEvent;
    struct Step {
        unsigned xKeycode;
        bool press;
        bool xRepeat;
        TapEvent expected;
    };
    const Step steps[] = {
        // Option down, a space that X repeats, Option up. (A space pressed again while held is the
        // desktop tests' to press.)
        {xAltL, true, false, {kCGEventFlagsChanged, leftOption, 0x3A, 0}},
        {xSpace, true, false, {kCGEventKeyDown, leftOption, 49, 0}},
        {xSpace, true, true, {kCGEventKeyDown, leftOption, 49, 1}},
        {xSpace, false, false, {kCGEventKeyUp, leftOption, 49, 0}},
        {xAltL, false, false, {kCGEventFlagsChanged, 0, 0x3A, 0}},
        // Both shift keys: the kind's bit stays until the second is released.
        {xShiftL, true, false, {kCGEventFlagsChanged, leftShift, 0x38, 0}},
        {xShiftR, true, false, {kCGEventFlagsChanged, leftShift | rightShift, 0x3C, 0}},
        {xShiftL, false, false, {kCGEventFlagsChanged, rightShift, 0x38, 0}},
        {xA, true, true, {kCGEventKeyDown, rightShift, 0x00, 1}},
        {xShiftR, false, false, {kCGEventFlagsChanged, 0, 0x3C, 0}},
        {xA, false, false, {kCGEventKeyUp, 0, 0x00, 0}},
        // Right Option and Command together; a modifier released that was never seen pressed.
        {xAltR, true, false, {kCGEventFlagsChanged, rightOption, 0x3D, 0}},
        {xSuperL,
         true,
         false,
         {kCGEventFlagsChanged, rightOption | kCGEventFlagMaskCommand | 0x08, 0x37, 0}},
        {xControlR,
         false,
         false,
         {kCGEventFlagsChanged, rightOption | kCGEventFlagMaskCommand | 0x08, 0x3E, 0}},
    };
    xdesk::TapKeyboard keyboard = usKeyboard();
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        EXPECT_EQ(xdesk::tapEventFor(keyboard, step.xKeycode, step.press, step.xRepeat),
                  step.expected)
            << "step " << i;
    }
    EXPECT_FALSE(xdesk::tapEventFor(keyboard, 256, true, false));
}

TEST(TappedKeys, KeysHeldBeforeTheTapCountFromTheStart) {
    xdesk::TapKeyboard keyboard = usKeyboard();
    keyboard.held[xAltL] = true;
    keyboard.held[xSpace] = true;
    EXPECT_EQ(xdesk::heldFlags(keyboard), leftOption);
    // The space held from before repeats; Shift pressed now comes with Option's flags.
    EXPECT_EQ(xdesk::tapEventFor(keyboard, xSpace, true, false)->autorepeat, 1);
    EXPECT_EQ(xdesk::tapEventFor(keyboard, xShiftL, true, false)->flags, leftOption | leftShift);
}

// A GTK application's id, a class for the identifier and a line break in a class are the desktop
// tests' to show; these are the windows a test application does not make.
TEST(Applications, WhatAnActiveWindowSaysOfItsApplication) {
    using std::nullopt;
    using Text = std::optional<std::string>;
    struct Row {
        const char* what;
        xdesk::WindowFacts window;
        Text bundleIdentifier;
        Text localizedName;
        Text executableName;
    };
    const std::string notes("notes\0Notes\0", 12);
    const Row rows[] = {
        {"empty application id", {41, notes, "", "/usr/bin/notes"}, "Notes", "Notes", "notes"},
        {"no WM_CLASS", {41, nullopt, nullopt, "/opt/x/bin/x-app"}, nullopt, nullopt, "x-app"},
        {"empty class", {41, std::string("x\0\0", 3), nullopt, nullopt}, nullopt, nullopt, nullopt},
        {"class without NULs",
         {41, std::string("lonely"), nullopt, nullopt},
         nullopt,
         nullopt,
         nullopt},
        {"class without its NUL",
         {41, std::string("i\0Klass", 7), nullopt, nullopt},
         "Klass",
         "Klass",
         nullopt},
        {"replaced executable",
         {41, nullopt, nullopt, "/usr/bin/notes (deleted)"},
         nullopt,
         nullopt,
         "notes"},
        {"Latin-1 class",
         {41, std::string("i\0Caf\xe9\0", 7), nullopt, nullopt},
         "Caf\xc3\xa9",
         "Caf\xc3\xa9",
         nullopt},
    };
    for (const Row& row : rows) {
        const xdesk::RunningApplication application = xdesk::applicationFor(row.window);
        EXPECT_EQ(application.bundleIdentifier, row.bundleIdentifier) << row.what;
        EXPECT_EQ(application.localizedName, row.localizedName) << row.what;
        EXPECT_EQ(application.executableName, row.executableName) << row.what;
        EXPECT_EQ(application.processIdentifier, 41) << row.what;
    }
}

TEST(Applications, TextPropertiesBecomeUtf8) {
    EXPECT_EQ(xdesk::textPropertyUtf8("plain"), "plain");
    EXPECT_EQ(xdesk::textPropertyUtf8("\xc3\xa9\xf0\x9f\x98\x80"), "\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(xdesk::textPropertyUtf8("\xe9t\xe9"), "\xc3\xa9t\xc3\xa9");
    // Overlong forms and encoded surrogates are not UTF-8: each byte is a Latin-1 character.
    EXPECT_EQ(xdesk::textPropertyUtf8("\xc0\xaf"), "\xc3\x80\xc2\xaf");
    EXPECT_EQ(xdesk::textPropertyUtf8("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
}

} // namespace
