// The Linux desktop platform with no desktop at all: no display, no session bus, no
// accessibility bus. Every call answers as documented and nothing reaches standard error; the
// registry's strictness holds for the platform's own objects. (No event tap and no activations
// without a display are what the desktop tests show.) Each test runs in a process of its own
// under CTest, and each process starts without the desktop's variables.
#include <ApplicationServices/ApplicationServices.h>
#include <cfcore/objects.h>
#include <xdesk/desktop.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class NoDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"}) {
            unsetenv(name);
        }
    }
};

[[maybe_unused]] ::testing::Environment* const noDesktop =
    ::testing::AddGlobalTestEnvironment(new NoDesktop);

// Nothing is trusted or read, an application knows its pid but cannot be brought forward, and
// nothing is printed.
TEST(WithoutDesktop, NothingIsTrustedNothingIsReadAndNothingIsPrinted) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(AXIsProcessTrusted(), 0);
    AXUIElementRef systemWide = AXUIElementCreateSystemWide();
    CFTypeRef slot = kCFBooleanTrue; // an error must leave the slot as it was
    EXPECT_EQ(AXUIElementCopyAttributeValue(systemWide, CFSTR("AXFocusedUIElement"), &slot),
              kAXErrorAPIDisabled);
    EXPECT_EQ(slot, kCFBooleanTrue);
    Boolean settable = 1;
    EXPECT_EQ(AXUIElementIsAttributeSettable(systemWide, CFSTR("AXValue"), &settable),
              kAXErrorSuccess);
    EXPECT_EQ(settable, 0);
    pid_t pid = 7;
    EXPECT_EQ(AXUIElementGetPid(systemWide, &pid), kAXErrorIllegalArgument);
    CFRelease(systemWide);

    AXUIElementRef application = AXUIElementCreateApplication(4242);
    EXPECT_EQ(AXUIElementGetPid(application, &pid), kAXErrorSuccess);
    EXPECT_EQ(pid, 4242);
    EXPECT_EQ(AXUIElementIsAttributeSettable(application, CFSTR("AXFrontmost"), &settable),
              kAXErrorSuccess);
    EXPECT_EQ(settable, 1);
    // No window manager to ask: the request fails rather than pretending to have gone out.
    EXPECT_EQ(AXUIElementSetAttributeValue(application, CFSTR("AXFrontmost"), kCFBooleanTrue),
              kAXErrorCannotComplete);
    EXPECT_EQ(AXUIElementSetAttributeValue(application, CFSTR("AXFrontmost"), kCFBooleanFalse),
              kAXErrorIllegalArgument);
    EXPECT_EQ(AXUIElementCopyAttributeValue(application, CFSTR("AXRole"), &slot),
              kAXErrorAPIDisabled);
    EXPECT_EQ(xdesk::frontmostApplicationPid(), std::nullopt);
    CFRelease(application);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(cfcore::liveObjects(), 0u);
}

TEST(WithoutDesktop, AKeystrokeThatCannotBeTypedIsNotMade) {
    CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateHIDSystemState);
    ASSERT_NE(source, nullptr);
    // No display to type on: fast paste learns it before posting anything.
    EXPECT_EQ(CGEventCreateKeyboardEvent(source, 9, true), nullptr);
    // A key that this platform never posts.
    EXPECT_EQ(CGEventCreateKeyboardEvent(nullptr, 49, true), nullptr);
    CGEventPost(kCGHIDEventTap, nullptr);
    CFRelease(source);
    EXPECT_EQ(cfcore::liveObjects(), 0u);
}

using PlatformStrictnessDeathTest = ::testing::Test;

// The registry's strictness holds for the platform's own objects, as for the simulation's.
TEST_F(PlatformStrictnessDeathTest, AReleasedElementAbortsWithItsName) {
    EXPECT_DEATH(
        {
            AXUIElementRef element = AXUIElementCreateApplication(4);
            CFRelease(element);
            pid_t pid = 0;
            AXUIElementGetPid(element, &pid);
        },
        "cfcore: AXUIElementGetPid called with released AXUIElement #[0-9]+ app:4");
}

} // namespace
