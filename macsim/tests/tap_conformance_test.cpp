// Checks the simulated tap and run loop against the documented behaviour of macOS that gripwell's
// tests rely on, and that the record of what a callback did with an event can tell a fault.
#include <macsim/control.h>
#include <macsim/tap.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

CGEventRef pass(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
    return event;
}

CFMachPortRef createTap(CGEventMask mask, CGEventTapCallBack callback = pass,
                        CGEventTapLocation location = kCGSessionEventTap) {
    return CGEventTapCreate(location, kCGHeadInsertEventTap, kCGEventTapOptionDefault, mask,
                            callback, nullptr);
}

class SimTap : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
    }
    // Adds the tap's source to the current run loop and drops the caller's references.
    static void install(CFMachPortRef tap) {
        CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0);
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
        CFRelease(source);
        CFRelease(tap);
    }
};

// Notices reach the tap whatever its mask, and silence it until CGEventTapEnable(tap, true).
TEST_F(SimTap, NoticesBypassTheMaskAndSilenceTheTapUntilEnabled) {
    CFMachPortRef tap = createTap(CGEventMaskBit(kCGEventFlagsChanged));
    install(tap);
    macsim::scriptSessionEvents({macsim::keyDown(49), macsim::flagsChanged(0x80000),
                                 macsim::tapDisabledByUserInput(), macsim::flagsChanged(0)});
    CFRunLoopRun();
    EXPECT_FALSE(CGEventTapIsEnabled(tap));
    macsim::scriptSessionEvents({macsim::flagsChanged(0x80000)});
    CGEventTapEnable(tap, true);
    CFRunLoopRun();
    std::vector<std::size_t> delivered;
    for (const macsim::DeliveredEvent& event : macsim::deliveredEvents()) {
        delivered.push_back(event.index);
    }
    EXPECT_EQ(delivered, (std::vector<std::size_t>{1, 2, 4}));
    EXPECT_EQ(macsim::liveObjects(), 2u) << "the run loop holds the source, the source the tap";
    macsim::tearDownRunLoop();
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST_F(SimTap, RecordsWhatTheCallbackDidWithTheEvent) {
    install(createTap(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) {
        int64_t keycode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
        if (keycode == 2) {
            CGEventSetFlags(event, 0);
        } else if (keycode == 3) {
            CFRetain(event);
        }
        return keycode == 1 ? nullptr : event;
    }));
    macsim::scriptSessionEvents({macsim::keyDown(1), macsim::keyDown(2, 0x100), macsim::keyDown(3),
                                 macsim::keyDown(4, 0x100, true)});
    CFRunLoopRun();
    std::vector<bool> unchanged;
    for (const macsim::DeliveredEvent& event : macsim::deliveredEvents()) {
        unchanged.push_back(event.passedThroughUnchanged());
    }
    EXPECT_EQ(unchanged, (std::vector{false, false, false, true}));
}

// Only root may tap the HID system; an untrusted session tap loses its key bits.
TEST_F(SimTap, UntrustedTapLosesKeyEventsAndHidTapNeedsRoot) {
    EXPECT_EQ(createTap(0x1400, pass, kCGHIDEventTap), nullptr);
    macsim::desktop().trusted = false;
    EXPECT_EQ(createTap(CGEventMaskBit(kCGEventKeyDown)), nullptr);
    CFMachPortRef flagsOnly = createTap(0x1400);
    ASSERT_NE(flagsOnly, nullptr);
    EXPECT_EQ(macsim::createdTap()->effectiveMask, CGEventMaskBit(kCGEventFlagsChanged));
    CFRelease(flagsOnly);
}

using SimTapDeathTest = SimTap;

// The event handed to a callback is not the callback's to release.
TEST_F(SimTapDeathTest, CallbackReleasingTheEventAborts) {
    EXPECT_DEATH(
        {
            install(createTap(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) {
                CFRelease(event);
                return event;
            }));
            macsim::scriptSessionEvents({macsim::keyDown(49)});
            CFRunLoopRun();
        },
        "released the event");
}

} // namespace
