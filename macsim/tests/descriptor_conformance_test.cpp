// Checks the simulated CFFileDescriptor and the run loop's service of descriptor sources against
// the behaviour of macOS that gripwell's tests rely on: one-shot callbacks between the scripted
// events, and the ownership rules of descriptors, their sources and invalidation. Waiting for
// readiness once the script is done is what every stalled-reader scenario shows.
#include <macsim/control.h>
#include <macsim/tap.h>

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> happenings;

CGEventRef recordEvent(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
    happenings.push_back(
        "event " + std::to_string(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode)));
    return event;
}

// Both ends of a pipe, non-blocking, closed at the end of the test.
struct Pipe {
    std::array<int, 2> ends{-1, -1};
    Pipe() {
        EXPECT_EQ(::pipe(ends.data()), 0);
        for (int end : ends) {
            ::fcntl(end, F_SETFL, O_NONBLOCK);
        }
    }
    ~Pipe() {
        for (int end : ends) {
            if (end >= 0) {
                ::close(end);
            }
        }
    }
};

class SimDescriptor : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
        happenings.clear();
        CFMachPortRef tap =
            CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             0x1400, recordEvent, nullptr);
        install(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0));
        CFRelease(tap);
    }
    // Adds the source to the current run loop in the common modes; the run loop keeps it.
    static void install(CFRunLoopSourceRef source) {
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
        CFRelease(source);
    }
    // A descriptor watched from the run loop, with `enable` callbacks enabled; the caller owns it.
    static CFFileDescriptorRef watch(int fd, CFFileDescriptorCallBack callout, void* info = nullptr,
                                     CFOptionFlags enable = kCFFileDescriptorWriteCallBack) {
        CFFileDescriptorContext context = {0, info, nullptr, nullptr, nullptr};
        CFFileDescriptorRef descriptor =
            CFFileDescriptorCreate(kCFAllocatorDefault, fd, false, callout, &context);
        install(CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, descriptor, 0));
        if (enable != 0) {
            CFFileDescriptorEnableCallBacks(descriptor, enable);
        }
        return descriptor;
    }
};

// A writable descriptor fires before each event for as long as its callback enables itself again;
// once nothing is enabled and the script is done, the run returns.
TEST_F(SimDescriptor, OneShotCallbacksFireBetweenEvents) {
    Pipe pipe;
    CFFileDescriptorRef descriptor =
        watch(pipe.ends[1], [](CFFileDescriptorRef f, CFOptionFlags types, void*) {
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

// Invalidation takes the descriptor's source out of the run loop, which frees it and its
// reference on the descriptor, and leaves the descriptor open unless asked to close it.
TEST_F(SimDescriptor, InvalidationLetsGoOfTheSource) {
    macsim::tearDownRunLoop(); // only the descriptor's objects from here on
    Pipe pipe;
    CFFileDescriptorRef descriptor = watch(pipe.ends[1], nullptr, nullptr, 0);
    EXPECT_EQ(macsim::liveObjects(), 2u)
        << "the run loop holds the source, the source the descriptor";
    CFFileDescriptorInvalidate(descriptor);
    EXPECT_FALSE(CFFileDescriptorIsValid(descriptor));
    EXPECT_EQ(macsim::liveObjects(), 1u) << "only the caller's reference is left";
    EXPECT_EQ(::fcntl(pipe.ends[1], F_GETFD), 0) << "closed without closeOnInvalidate";
    CFRelease(descriptor);
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

} // namespace
