// The key presses behind a posted keyboard event.
#include "posted_keys.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

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

} // namespace
