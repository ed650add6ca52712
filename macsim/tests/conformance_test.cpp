// Checks the simulated platform against the behaviour of the real one that the tools rely on:
// the Create/Copy/Get ownership rules, constant strings, and crashes.
#include <ApplicationServices/ApplicationServices.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Declarations, widths and constant values are pinned at compile time in sdk_conformance.cpp.

TEST(Conformance, DefaultAllocatorIsNull) {
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
    CFRetain(literal);
    CFRelease(literal);
    CFRelease(literal);
    CFRelease(kCFBooleanTrue);
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

std::u16string contents(CFStringRef string) {
    std::u16string out(static_cast<std::size_t>(CFStringGetLength(string)), u'\0');
    CFStringGetCharacters(string, CFRangeMake(0, static_cast<CFIndex>(out.size())),
                          reinterpret_cast<UniChar*>(out.data()));
    return out;
}

// A Mac does not promise that equal literals are one object. Here they never are when written
// at two places, even as the same attribute constant, so that code comparing strings by pointer
// fails its tests instead of passing by luck; one place gives one object every time.
TEST_F(Ownership, ConstantStringsAreOnePerPlaceWritten) {
    const auto valueAttribute = [] { return kAXValueAttribute; };
    EXPECT_EQ(valueAttribute(), valueAttribute());
    EXPECT_NE(valueAttribute(), kAXValueAttribute);
    EXPECT_NE(CFSTR("AXValue"), CFSTR("AXValue"));
    EXPECT_EQ(contents(valueAttribute()), contents(kAXValueAttribute));
    EXPECT_EQ(contents(kAXValueAttribute), u"AXValue");
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
