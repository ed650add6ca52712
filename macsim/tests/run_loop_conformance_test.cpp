// Checks the simulated tap, descriptor sources and run loop against the documented behaviour of
// macOS that gripwell's tests rely on: notices and the tap's enabled state, one-shot descriptor
// callbacks between the scripted events, and the ownership rules of sources and invalidation; and
// that the record of what a callback did with an event can tell a fault. Waiting for readiness
// once the script is done is what every stalled-reader scenario shows.
#include <macsim/control.h>
#include <macsim/tap.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> happenings;

CGEventRef pass(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
    return event;
}

CGEventRef recordEvent(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
    happenings.push_back(
        "event " + std::to_string(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode)));
    return event;
}

class SimRunLoop : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
        happenings.clear();
        ASSERT_EQ(::pipe2(pipe, O_NONBLOCK), 0);
    }
    void TearDown() override {
        ::close(pipe[0]);
        ::close(pipe[1]);
    }
    // Adds the source to the current run loop in the common modes; the run loop keeps it.
    static void install(CFRunLoopSourceRef source) {
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
        CFRelease(source);
    }
    // A session tap watching `mask`, installed; the caller owns the reference returned.
    static CFMachPortRef installTap(CGEventMask mask, CGEventTapCallBack callback = pass) {
        CFMachPortRef tap = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                             kCGEventTapOptionDefault, mask, callback, nullptr);
        install(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0));
        return tap;
    }
    // A descriptor watched from the run loop, with `enable` callbacks enabled; the caller owns it.
    static CFFileDescriptorRef watch(int fd, CFFileDescriptorCallBack callout,
                                     CFOptionFlags enable = kCFFileDescriptorWriteCallBack) {
        CFFileDescriptorContext context = {0, nullptr, nullptr, nullptr, nullptr};
        CFFileDescriptorRef descriptor =
            CFFileDescriptorCreate(kCFAllocatorDefault, fd, false, callout, &context);
        install(CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, descriptor, 0));
        if (enable != 0) {
            CFFileDescriptorEnableCallBacks(descriptor, enable);
        }
        return descriptor;
    }
    int pipe[2] = {-1, -1};
};

// Notices reach the tap whatever its mask, and silence it until CGEventTapEnable(tap, true).
TEST_F(SimRunLoop, NoticesBypassTheMaskAndSilenceTheTapUntilEnabled) {
    CFMachPortRef tap = installTap(CGEventMaskBit(kCGEventFlagsChanged));
    macsim::scriptSessionEvents({macsim::keyDown(49), macsim::flagsChanged(0x80000),
                                 macsim::tapDisabledByUserInput(), macsim::flagsChanged(0)});
    CFRunLoopRun();
    EXPECT_FALSE(CGEventTapIsEnabled(tap));
    macsim::scriptSessionEvents({macsim::flagsChanged(0x80000)});
    CGEventTapEnable(tap, true);
    CFRunLoopRun();
    CFRelease(tap);
    std::vector<std::size_t> delivered;
    for (const macsim::DeliveredEvent& event : macsim::deliveredEvents()) {
        delivered.push_back(event.index);
    }
    EXPECT_EQ(delivered, (std::vector<std::size_t>{1, 2, 4}));
    EXPECT_EQ(macsim::liveObjects(), 2u) << "the run loop holds the source, the source the tap";
    macsim::tearDownRunLoop();
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST_F(SimRunLoop, RecordsWhatTheCallbackDidWithTheEvent) {
    CFRelease(installTap(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) {
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

// A writable descriptor fires before each event for as long as its callback enables itself again;
// once nothing is enabled and the script is done, the run returns.
TEST_F(SimRunLoop, OneShotCallbacksFireBetweenEvents) {
    CFRelease(installTap(0x1400, recordEvent));
    CFFileDescriptorRef descriptor =
        watch(pipe[1], [](CFFileDescriptorRef f, CFOptionFlags types, void*) {
            happenings.push_back(types == kCFFileDescriptorWriteCallBack ? "writable" : "other");
            if (happenings.size() < 3) {
                CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorWriteCallBack);
            }
        });
    macsim::scriptSessionEvents({macsim::keyDown(1), macsim::keyDown(2), macsim::keyDown(3)});
    macsim::onSessionEventsDone([] { happenings.push_back("done"); });
    CFRunLoopRun();
    EXPECT_EQ(happenings, (std::vector<std::string>{"writable", "event 1", "writable", "event 2",
                                                    "event 3", "done"}));
    CFFileDescriptorInvalidate(descriptor);
    CFRelease(descriptor);
}

// The run loop holds a source while it serves it: a callout may invalidate its own descriptor, of
// which the run loop held the last reference, and still use it. A descriptor closed under the run
// loop never fires again and does not keep the run waiting.
TEST_F(SimRunLoop, ACalloutMayInvalidateItsOwnDescriptorAndAClosedOneDropsOut) {
    CFRelease(watch(pipe[1], [](CFFileDescriptorRef f, CFOptionFlags, void*) {
        CFFileDescriptorInvalidate(f);
        happenings.push_back(CFFileDescriptorIsValid(f) ? "still valid" : "invalidated");
    }));
    const int closed = ::dup(pipe[1]);
    CFFileDescriptorRef dropped = watch(closed, [](CFFileDescriptorRef, CFOptionFlags, void*) {
        happenings.push_back("closed one fired");
    });
    ::close(closed);
    CFRunLoopRun();
    EXPECT_EQ(happenings, std::vector<std::string>{"invalidated"});
    EXPECT_EQ(macsim::liveObjects(), 2u) << "the closed one's source and descriptor";
    CFFileDescriptorInvalidate(dropped);
    CFRelease(dropped);
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

using SimRunLoopDeathTest = SimRunLoop;

// The event handed to a callback is not the callback's to release.
TEST_F(SimRunLoopDeathTest, CallbackReleasingTheEventAborts) {
    EXPECT_DEATH(
        {
            CFRelease(installTap(0x1400, [](CGEventTapProxy, CGEventType, CGEventRef event, void*) {
                CFRelease(event);
                return event;
            }));
            macsim::scriptSessionEvents({macsim::keyDown(49)});
            CFRunLoopRun();
        },
        "released the event");
}

} // namespace
