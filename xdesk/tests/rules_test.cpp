// The Linux desktop's pure rules: the offsets that AT-SPI and the tools exchange, the role table,
// and the key presses behind a posted keyboard event.
#include "rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using xdesk::InsidePair;

// "a", U+1F600 (two units), "b", "e" + U+0301 (a combining mark, one unit of its own).
const std::u16string mixed = u"a\U0001F600be\u0301";

struct OffsetRow {
    long characters;
    long units;
};

TEST(TextOffsets, CharactersBecomeUnitsWithTwoForAnEmoji) {
    const OffsetRow rows[] = {{0, 0},
                              {1, 1},
                              {2, 3},
                              {3, 4},
                              {4, 5},
                              {5, 6},
                              // past the end: one unit per character, so still out of range
                              {6, 7},
                              {9, 10},
                              // negative: unchanged, for the caller to refuse
                              {-1, -1}};
    for (const OffsetRow& row : rows) {
        EXPECT_EQ(xdesk::unitsForCharacters(mixed, row.characters), row.units)
            << row.characters << " characters";
    }
}

TEST(TextOffsets, UnitsBecomeCharactersBackExactly) {
    for (long characters = 0; characters <= 7; ++characters) {
        const long units = xdesk::unitsForCharacters(mixed, characters);
        EXPECT_EQ(xdesk::charactersForUnits(mixed, units, InsidePair::before), characters);
        EXPECT_EQ(xdesk::charactersForUnits(mixed, units, InsidePair::after), characters);
    }
    EXPECT_EQ(xdesk::charactersForUnits(mixed, -3, InsidePair::after), -3);
}

TEST(TextOffsets, AnOffsetInsideAPairGoesToEitherBoundary) {
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
        {"caret before the emoji", {1, 0}, 1, 1},
        {"caret inside the emoji goes before it", {2, 0}, 1, 1},
        {"the emoji selected", {1, 2}, 1, 2},
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

TEST(Keyboard, OnlyTheVKeyIsPosted) {
    EXPECT_EQ(xdesk::keysymForKeyCode(9), 0x76u); // kVK_ANSI_V types XK_v
    EXPECT_FALSE(xdesk::keysymForKeyCode(49));    // space
    EXPECT_FALSE(xdesk::keysymForKeyCode(0));
}

TEST(Keyboard, CommandAsksForControl) {
    using xdesk::Modifier;
    using Modifiers = std::vector<Modifier>;
    EXPECT_EQ(xdesk::modifiersForFlags(kCGEventFlagMaskCommand), Modifiers{Modifier::control});
    EXPECT_EQ(xdesk::modifiersForFlags(kCGEventFlagMaskControl), Modifiers{Modifier::control});
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

} // namespace
