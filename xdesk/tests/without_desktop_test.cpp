// The Linux desktop platform with no desktop at all: no display, no session bus, no
// accessibility bus. Every call answers as documented and nothing reaches standard error; the
// registry's strictness holds for the platform's own objects. Each test runs in a process of its
// own under CTest, and each process starts without the desktop's variables.
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

CGEventRef passThrough(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
    return event;
}

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
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(cfcore::liveObjects(), 0u);
}

TEST(WithoutDesktop, AnApplicationKnowsItsPidButCannotBeBroughtForward) {
    ::testing::internal::CaptureStderr();
    AXUIElementRef application = AXUIElementCreateApplication(4242);
    pid_t pid = 0;
    EXPECT_EQ(AXUIElementGetPid(application, &pid), kAXErrorSuccess);
    EXPECT_EQ(pid, 4242);
    Boolean settable = 0;
    EXPECT_EQ(AXUIElementIsAttributeSettable(application, CFSTR("AXFrontmost"), &settable),
              kAXErrorSuccess);
    EXPECT_EQ(settable, 1);
    // No window manager to ask: the request fails rather than pretending to have gone out.
    EXPECT_EQ(AXUIElementSetAttributeValue(application, CFSTR("AXFrontmost"), kCFBooleanTrue),
              kAXErrorCannotComplete);
    EXPECT_EQ(AXUIElementSetAttributeValue(application, CFSTR("AXFrontmost"), kCFBooleanFalse),
              kAXErrorIllegalArgument);
    CFTypeRef role = nullptr;
    EXPECT_EQ(AXUIElementCopyAttributeValue(application, CFSTR("AXRole"), &role),
              kAXErrorAPIDisabled);
    EXPECT_EQ(role, nullptr);
    EXPECT_EQ(xdesk::frontmostApplicationPid(), std::nullopt);
    CFRelease(application);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
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

TEST(WithoutDesktop, ThereIsNoEventTapNorAnActivationToWatch) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                               CGEventMaskBit(kCGEventKeyDown), &passThrough, nullptr),
              nullptr);
    EXPECT_EQ(xdesk::watchActivations(), std::nullopt);
    EXPECT_TRUE(xdesk::takeActivations().ended);
    EXPECT_EQ(CFRunLoopGetCurrent(), CFRunLoopGetMain());
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.001, false), kCFRunLoopRunTimedOut);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(cfcore::liveObjects(), 0u);
}

using PlatformStrictnessDeathTest = ::testing::Test;

TEST_F(PlatformStrictnessDeathTest, MisusedObjectsAbortWithTheirNames) {
    EXPECT_DEATH(
        {
            AXUIElementRef element = AXUIElementCreateApplication(4);
            CFRelease(element);
            pid_t pid = 0;
            AXUIElementGetPid(element, &pid);
        },
        "cfcore: AXUIElementGetPid called with released AXUIElement #[0-9]+ app:4");
    EXPECT_DEATH(
        {
            CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateHIDSystemState);
            CGEventSetFlags(
                reinterpret_cast<CGEventRef>(const_cast<void*>(static_cast<const void*>(source))),
                kCGEventFlagMaskCommand);
        },
        "CGEventSetFlags expects a CGEvent, got CGEventSource");
    int notATap = 0;
    EXPECT_DEATH(CGEventTapEnable(reinterpret_cast<CFMachPortRef>(&notATap), true),
                 "CGEventTapEnable called with an unknown object");
    EXPECT_DEATH(
        {
            AXUIElementRef systemWide = AXUIElementCreateSystemWide();
            AXUIElementCopyAttributeValue(systemWide, CFSTR("AXRole"), nullptr);
        },
        "NULL output slot");
}

} // namespace
