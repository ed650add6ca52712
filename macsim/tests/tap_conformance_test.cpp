// Checks that the simulated tap and run loop behave as macOS does in the ways gripwell's tests
// rely on: delivery rules, tap-disabled notices, references, and what is recorded.
#include <macsim/control.h>
#include <macsim/tap.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using ::testing::ElementsAre;

std::vector<CGEventType> seenTypes;

CGEventRef recordAndPass(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    seenTypes.push_back(type);
    return event;
}

class SimTap : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
        seenTypes.clear();
    }

    CFMachPortRef tap = nullptr;
    CFRunLoopSourceRef source = nullptr;

    void install(CGEventMask mask, CGEventTapCallBack callback = recordAndPass,
                 CFRunLoopMode mode = kCFRunLoopCommonModes) {
        tap = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                               mask, callback, nullptr);
        ASSERT_NE(tap, nullptr);
        source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0);
        ASSERT_NE(source, nullptr);
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source, mode);
    }
    void release() {
        CFRelease(source);
        CFRelease(tap);
        macsim::tearDownRunLoop();
    }
};

TEST_F(SimTap, NoticesBypassTheMaskAndSilenceTheTapUntilEnabled) {
    install(CGEventMaskBit(kCGEventFlagsChanged));
    macsim::scriptSessionEvents({macsim::keyDown(49), macsim::flagsChanged(0x80000),
                                 macsim::tapDisabledByUserInput(), macsim::flagsChanged(0),
                                 macsim::tapDisabledByTimeout()});
    CFRunLoopRun();
    EXPECT_THAT(seenTypes, ElementsAre(kCGEventFlagsChanged, kCGEventTapDisabledByUserInput));
    EXPECT_FALSE(CGEventTapIsEnabled(tap));
    macsim::scriptSessionEvents({macsim::flagsChanged(0x80000)});
    CGEventTapEnable(tap, true);
    CFRunLoopRun();
    EXPECT_EQ(seenTypes.back(), kCGEventFlagsChanged);
    EXPECT_EQ(seenTypes.size(), 3u);
    EXPECT_EQ(macsim::deliveredEvents().back().index, 5u);
    release();
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST_F(SimTap, RunLoopHoldsTheSourceAndTheSourceHoldsTheTap) {
    install(0x1400);
    EXPECT_EQ(CFGetRetainCount(tap), 2);
    EXPECT_EQ(CFGetRetainCount(source), 2);
    CFRelease(tap);
    CFRelease(source);
    EXPECT_EQ(macsim::liveObjects(), 2u);
    macsim::tearDownRunLoop();
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST_F(SimTap, SourceOutsideTheDefaultModesIsNotServiced) {
    install(0x1400, recordAndPass, CFSTR("SomeOtherMode"));
    macsim::scriptSessionEvents({macsim::keyDown(49)});
    CFRunLoopRun();
    EXPECT_TRUE(seenTypes.empty());
    EXPECT_EQ(macsim::pendingSessionEvents(), 0u);
    release();
}

TEST_F(SimTap, StopInsideACallbackLeavesTheRestPending) {
    install(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) {
        CFRunLoopStop(CFRunLoopGetMain());
        return event;
    });
    macsim::scriptSessionEvents({macsim::keyDown(1), macsim::keyDown(2), macsim::keyDown(3)});
    CFRunLoopRun();
    EXPECT_EQ(macsim::deliveredEvents().size(), 1u);
    EXPECT_EQ(macsim::pendingSessionEvents(), 2u);
    release();
}

TEST_F(SimTap, RecordsWhatTheCallbackDidWithTheEvent) {
    install(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) -> CGEventRef {
        switch (CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode)) {
        case 1:
            return nullptr;
        case 2:
            CGEventSetFlags(event, 0);
            return event;
        case 3:
            CFRetain(event);
            return event;
        default:
            return event;
        }
    });
    macsim::scriptSessionEvents({macsim::keyDown(1, 0x100), macsim::keyDown(2, 0x100),
                                 macsim::keyDown(3), macsim::keyDown(4, 0x100, true)});
    CFRunLoopRun();
    auto delivered = macsim::deliveredEvents();
    ASSERT_EQ(delivered.size(), 4u);
    EXPECT_EQ(delivered[0].returned, macsim::Returned::null);
    EXPECT_EQ(delivered[1].after.flags, 0u);
    EXPECT_EQ(delivered[2].extraReferences, 1);
    EXPECT_FALSE(delivered[0].passedThroughUnchanged());
    EXPECT_FALSE(delivered[1].passedThroughUnchanged());
    EXPECT_FALSE(delivered[2].passedThroughUnchanged());
    EXPECT_TRUE(delivered[3].passedThroughUnchanged());
    EXPECT_EQ(delivered[3].sent.autorepeat, 1);
}

TEST_F(SimTap, UntrustedTapLosesKeyEventsAndHidTapNeedsRoot) {
    macsim::desktop().trusted = false;
    EXPECT_EQ(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                               CGEventMaskBit(kCGEventKeyDown), recordAndPass, nullptr),
              nullptr);
    CFMachPortRef flagsOnly =
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                         0x1400, recordAndPass, nullptr);
    ASSERT_NE(flagsOnly, nullptr);
    EXPECT_EQ(macsim::createdTap()->effectiveMask, CGEventMaskBit(kCGEventFlagsChanged));
    CFRelease(flagsOnly);
    macsim::desktop().trusted = true;
    EXPECT_EQ(CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                               0x1400, recordAndPass, nullptr),
              nullptr);
}

using SimTapDeathTest = SimTap;

TEST_F(SimTapDeathTest, CallbackReleasingTheEventAborts) {
    EXPECT_DEATH(
        {
            install(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) {
                CFRelease(event);
                return event;
            });
            macsim::scriptSessionEvents({macsim::keyDown(49)});
            CFRunLoopRun();
        },
        "released the event");
}

} // namespace
