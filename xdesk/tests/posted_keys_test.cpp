// The key presses behind a posted keyboard event.
#include "posted_keys.h"

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

using xdesk::Modifier;
using xdesk::ShortcutStyle;

TEST(Keyboard, CommandAsksForTheShortcutModifiersOfTheTarget) {
    using Modifiers = std::vector<Modifier>;
    const struct {
        CGEventFlags flags;
        ShortcutStyle style;
        Modifiers expected;
    } cases[] = {
        // Command alone is Control in an application and Control+Shift in a terminal, as the
        // desktop tests show with real keys. Control itself is the program's in a terminal: it
        // asks for Control alone.
        {kCGEventFlagMaskControl, ShortcutStyle::terminal, {Modifier::control}},
        {kCGEventFlagMaskCommand | kCGEventFlagMaskShift | kCGEventFlagMaskAlternate,
         ShortcutStyle::terminal,
         {Modifier::control, Modifier::shift, Modifier::alt}},
        {kCGEventFlagMaskNonCoalesced | kCGEventFlagMaskSecondaryFn, ShortcutStyle::desktop, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xdesk::modifiersForFlags(c.flags, c.style), c.expected) << c.flags;
    }
}

TEST(Keyboard, OnlyKeysThatHoldAModifierAreHeldModifiers) {
    for (unsigned long keysym : {XK_Shift_R, XK_Control_L, XK_Alt_L, XK_Meta_R, XK_Super_L,
                                 XK_Hyper_R, XK_ISO_Level3_Shift, XK_Mode_switch}) {
        EXPECT_TRUE(xdesk::holdsModifier(keysym)) << keysym;
    }
    for (unsigned long keysym : {XK_Caps_Lock, XK_Num_Lock, XK_Shift_Lock, XK_v, XK_space}) {
        EXPECT_FALSE(xdesk::holdsModifier(keysym)) << keysym;
    }
}

// X key codes of the virtual desktop's key map, and the modifier bits of their keys (X.h's
// masks, whose None would clash with the test framework).
constexpr unsigned shiftMask = 1u << 0;
constexpr unsigned controlMask = 1u << 2;
constexpr unsigned mod4Mask = 1u << 6;
constexpr unsigned keyV = 55;
constexpr unsigned controlL = 37;
constexpr unsigned shiftL = 50;
constexpr unsigned superL = 133;

// A held Alt, a held Control, and held Shift and Super with Control needed, each released and
// pressed again in reverse order, are what the desktop tests show with real keys; these are the
// keystrokes of a terminal.
TEST(Keyboard, AKeystrokeHasExactlyItsModifiersAndLeavesTheKeyboardAsItWas) {
    using xdesk::HeldModifierKey;
    using xdesk::KeyAction;
    using xdesk::NeededModifier;
    using Actions = std::vector<KeyAction>;
    const NeededModifier control{controlL, controlMask, false};
    const NeededModifier shift{shiftL, shiftMask, false};
    const struct {
        const char* name;
        std::vector<NeededModifier> needed;
        std::vector<HeldModifierKey> held;
        Actions expected;
    } cases[] = {
        {"Shift and Super held, Control and Shift needed (a terminal): Super alone goes up",
         {control, {shiftL, shiftMask, true}},
         {{shiftL, shiftMask}, {superL, mod4Mask}},
         {{superL, false},
          {controlL, true},
          {keyV, true},
          {keyV, false},
          {controlL, false},
          {superL, true}}},
        {"two modifiers pressed come off in reverse order",
         {control, shift},
         {},
         {{controlL, true},
          {shiftL, true},
          {keyV, true},
          {keyV, false},
          {shiftL, false},
          {controlL, false}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xdesk::keystrokeActions(keyV, c.needed, c.held), c.expected) << c.name;
    }
}

} // namespace
