// The events an event tap makes of X's keys.
#include "tapped_keys.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <iterator>

namespace {

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

} // namespace
