// Checks the simulated platform against the facts of the real SDK that the tools rely on:
// type widths, constant values, and the Create/Copy/Get ownership rules.
#include <ApplicationServices/ApplicationServices.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace {

static_assert(sizeof(Boolean) == 1 && std::is_unsigned_v<Boolean>);
static_assert(sizeof(CFIndex) == 8 && std::is_signed_v<CFIndex>);
static_assert(sizeof(CFTypeID) == 8 && std::is_unsigned_v<CFTypeID>);
static_assert(sizeof(UniChar) == 2);
static_assert(sizeof(CFRange) == 16 && offsetof(CFRange, location) == 0 &&
              offsetof(CFRange, length) == 8);
static_assert(sizeof(pid_t) == 4 && std::is_signed_v<pid_t>);
static_assert(std::is_same_v<std::underlying_type_t<AXError>, SInt32>);
static_assert(std::is_same_v<std::underlying_type_t<AXValueType>, UInt32>);
static_assert(std::is_same_v<CGEventFlags, uint64_t> && std::is_same_v<CGEventMask, uint64_t>);
static_assert(std::is_same_v<std::underlying_type_t<CGEventType>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<CGEventSourceStateID>, int32_t>);
static_assert(std::is_same_v<CGKeyCode, uint16_t>);
static_assert(!std::is_convertible_v<int, AXError>, "CF_ENUM needs a cast from int");
static_assert(!std::is_convertible_v<decltype(kAXValueCFRangeType), AXValueType>);
static_assert(std::is_same_v<
              decltype(CGEventGetIntegerValueField(nullptr, kCGKeyboardEventKeycode)), int64_t>);

TEST(Conformance, ConstantValues) {
    EXPECT_EQ(kAXErrorSuccess, 0);
    EXPECT_EQ(kAXErrorFailure, -25200);
    EXPECT_EQ(kAXErrorCannotComplete, -25204);
    EXPECT_EQ(kAXErrorNoValue, -25212);
    EXPECT_EQ(kAXErrorNotEnoughPrecision, -25214);
    EXPECT_EQ(kAXValueTypeCFRange, 4u);
    EXPECT_EQ(kAXValueCFRangeType, 4u);
    EXPECT_EQ(kCFStringEncodingUTF8, 0x08000100u);
    EXPECT_EQ(kCGEventKeyDown, 10u);
    EXPECT_EQ(kCGEventFlagsChanged, 12u);
    EXPECT_EQ(kCGEventTapDisabledByTimeout, 0xFFFFFFFEu);
    EXPECT_EQ(kCGEventTapDisabledByUserInput, 0xFFFFFFFFu);
    EXPECT_EQ(kCGEventFlagMaskShift, 0x20000u);
    EXPECT_EQ(kCGEventFlagMaskControl, 0x40000u);
    EXPECT_EQ(kCGEventFlagMaskAlternate, 0x80000u);
    EXPECT_EQ(kCGEventFlagMaskCommand, 0x100000u);
    EXPECT_EQ(kCGEventFlagMaskSecondaryFn, 0x800000u);
    EXPECT_EQ(kCGKeyboardEventAutorepeat, 8u);
    EXPECT_EQ(kCGKeyboardEventKeycode, 9u);
    EXPECT_EQ(kCGHIDEventTap, 0u);
    EXPECT_EQ(kCGSessionEventTap, 1u);
    EXPECT_EQ(kCGHeadInsertEventTap, 0u);
    EXPECT_EQ(kCGEventTapOptionDefault, 0u);
    EXPECT_EQ(kCGEventSourceStateHIDSystemState, 1);
    EXPECT_EQ(CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventFlagsChanged), 0x1400u);
    EXPECT_EQ(kCFAllocatorDefault, nullptr);
}

class Ownership : public ::testing::Test {
protected:
    void SetUp() override { macsim::reset(); }
};

TEST_F(Ownership, CreateAndCopyResultsAreOwnedOnce) {
    AXUIElementRef systemWide = AXUIElementCreateSystemWide();
    EXPECT_EQ(CFGetRetainCount(systemWide), 1);
    macsim::desktop().systemWide.attributes["AXRole"] = macsim::Read::of(macsim::text("AXX"));
    CFTypeRef value = nullptr;
    ASSERT_EQ(AXUIElementCopyAttributeValue(systemWide, CFSTR("AXRole"), &value), kAXErrorSuccess);
    EXPECT_EQ(CFGetRetainCount(value), 1);
    EXPECT_EQ(macsim::liveObjects(), 2u);
    CFRelease(value);
    CFRelease(systemWide);
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST_F(Ownership, GetRuleAndConstantsAreNotCounted) {
    CFStringRef literal = CFSTR("AXValue");
    EXPECT_EQ(literal, CFSTR("AXValue"));
    CFRetain(literal);
    CFRelease(literal);
    CFRelease(literal);
    CFRelease(kCFBooleanTrue);
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST_F(Ownership, StringsCountUtf16Units) {
    const UInt8 bytes[] = {0xF0, 0x9F, 0x98, 0x80, 'a'}; // U+1F600 then 'a'
    CFStringRef string =
        CFStringCreateWithBytes(kCFAllocatorDefault, bytes, 5, kCFStringEncodingUTF8, false);
    ASSERT_NE(string, nullptr);
    EXPECT_EQ(CFStringGetLength(string), 3);
    CFRelease(string);
    const UInt8 invalid[] = {0xC0, 0x80};
    EXPECT_EQ(
        CFStringCreateWithBytes(kCFAllocatorDefault, invalid, 2, kCFStringEncodingUTF8, false),
        nullptr);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(10, kCFStringEncodingUTF8), 30);
}

using StrictnessDeathTest = Ownership;

TEST_F(StrictnessDeathTest, AbortsWhereMacOSWouldCrashAndBeyond) {
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease called with NULL");
    EXPECT_DEATH(CFRetain(nullptr), "CFRetain called with NULL");
    EXPECT_DEATH(
        {
            AXUIElementRef element = AXUIElementCreateSystemWide();
            CFRelease(element);
            CFRelease(element);
        },
        "CFRelease called with released AXUIElement");
    EXPECT_DEATH(
        {
            AXUIElementRef element = AXUIElementCreateApplication(4);
            CFRelease(element);
            pid_t pid = 0;
            AXUIElementGetPid(element, &pid);
        },
        "AXUIElementGetPid called with released AXUIElement #[0-9]+ app:4");
    int notAnObject = 0;
    EXPECT_DEATH(CFRelease(&notAnObject), "unknown object");
}

} // namespace
