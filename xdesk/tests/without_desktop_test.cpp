// The Linux desktop platform with no desktop at all: no display, no session bus, no
// accessibility bus. The calls a tool makes first answer as documented and nothing reaches standard
// error; the registry's strictness holds for the platform's own objects. (No event tap and no
// activations without a display are what the desktop tests show.) Each test runs in a process of
// its own under CTest, and each process starts without the desktop's variables.
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

// Nothing is trusted or read, nothing is in front, and nothing is printed. What a tool then
// answers, with no accessibility bus or no display, is what the desktop tests show; the other
// calls' answers without a desktop lie behind the trust test or go unread by the tools.
TEST(WithoutDesktop, NothingIsTrustedNothingIsReadAndNothingIsPrinted) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(AXIsProcessTrusted(), 0);
    AXUIElementRef systemWide = AXUIElementCreateSystemWide();
    CFTypeRef slot = kCFBooleanTrue; // an error must leave the slot as it was
    EXPECT_EQ(AXUIElementCopyAttributeValue(systemWide, CFSTR("AXFocusedUIElement"), &slot),
              kAXErrorAPIDisabled);
    EXPECT_EQ(slot, kCFBooleanTrue);
    CFRelease(systemWide);
    EXPECT_EQ(xdesk::frontmostApplicationPid(), std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
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
