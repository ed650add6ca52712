// Checks the simulated CFFileDescriptor and the run loop's service of descriptor sources against
// the behaviour of macOS that gripwell's tests rely on: one-shot callbacks between the scripted
// events, a wait for readiness once the script is done, a reader gone reported as readiness, and
// the ownership rules of descriptors, their sources and invalidation.
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
    void fill() const {
        static const std::string chunk(65536, 'x');
        while (::write(ends[1], chunk.data(), chunk.size()) > 0) {
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

// A full pipe keeps the write callback silent through the script; then the run loop waits until
// the read end's callback has made room, and the write callback fires.
TEST_F(SimDescriptor, WaitsAfterTheScriptUntilADescriptorIsReady) {
    Pipe pipe;
    pipe.fill();
    CFFileDescriptorRef writer = watch(pipe.ends[1], [](CFFileDescriptorRef, CFOptionFlags, void*) {
        happenings.push_back("writable");
    });
    CFFileDescriptorRef reader = watch(
        pipe.ends[0],
        [](CFFileDescriptorRef f, CFOptionFlags types, void*) {
            EXPECT_EQ(types, kCFFileDescriptorReadCallBack);
            happenings.push_back("readable");
            char chunk[65536];
            while (::read(CFFileDescriptorGetNativeDescriptor(f), chunk, sizeof chunk) > 0) {
            }
        },
        nullptr, 0);
    macsim::scriptSessionEvents({macsim::keyDown(1)});
    macsim::onSessionEventsDone([reader] {
        happenings.push_back("done");
        CFFileDescriptorEnableCallBacks(reader, kCFFileDescriptorReadCallBack);
    });
    CFRunLoopRun();
    EXPECT_EQ(happenings, (std::vector<std::string>{"event 1", "done", "readable", "writable"}));
    for (CFFileDescriptorRef descriptor : {writer, reader}) {
        CFFileDescriptorInvalidate(descriptor);
        CFRelease(descriptor);
    }
}

// A write end whose reader has gone is ready: the callback's write then fails with EPIPE.
TEST_F(SimDescriptor, ReaderGoneFiresTheWriteCallback) {
    Pipe pipe;
    pipe.fill();
    ::close(pipe.ends[0]);
    pipe.ends[0] = -1;
    CFFileDescriptorRef descriptor =
        watch(pipe.ends[1], [](CFFileDescriptorRef, CFOptionFlags types, void*) {
            happenings.push_back(types == kCFFileDescriptorWriteCallBack ? "writable" : "other");
        });
    CFRunLoopRun();
    EXPECT_EQ(happenings, std::vector<std::string>{"writable"});
    CFFileDescriptorInvalidate(descriptor);
    CFRelease(descriptor);
}

// The source retains its descriptor, so a valid descriptor in the run loop outlives the caller's
// reference. Invalidation takes the source out of the run loop, releases the info and leaves the
// descriptor open unless asked to close it.
TEST_F(SimDescriptor, InvalidationLetsGoOfEverything) {
    macsim::tearDownRunLoop(); // only the descriptors' objects from here on
    ASSERT_EQ(macsim::liveObjects(), 0u);
    Pipe pipe;
    static int released = 0;
    CFFileDescriptorContext context = {0, &released, [](void* info) { return info; },
                                       [](void* info) { ++*static_cast<int*>(info); }, nullptr};
    CFFileDescriptorRef descriptor = CFFileDescriptorCreate(
        kCFAllocatorDefault, pipe.ends[1], false, [](CFFileDescriptorRef, CFOptionFlags, void*) {},
        &context);
    install(CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, descriptor, 0));
    CFRelease(descriptor);
    EXPECT_EQ(macsim::liveObjects(), 2u)
        << "the run loop holds the source, the source the descriptor";
    EXPECT_EQ(released, 0);

    CFRetain(descriptor); // as a tool that kept its reference would hold it
    CFFileDescriptorInvalidate(descriptor);
    EXPECT_FALSE(CFFileDescriptorIsValid(descriptor));
    EXPECT_EQ(released, 1);
    EXPECT_EQ(::fcntl(pipe.ends[1], F_GETFD), 0) << "closed without closeOnInvalidate";
    CFRelease(descriptor);
    EXPECT_EQ(macsim::liveObjects(), 0u);

    CFFileDescriptorRef closing =
        CFFileDescriptorCreate(kCFAllocatorDefault, pipe.ends[0], true, nullptr, nullptr);
    CFFileDescriptorInvalidate(closing);
    EXPECT_EQ(::fcntl(pipe.ends[0], F_GETFD), -1) << "left open with closeOnInvalidate";
    pipe.ends[0] = -1;
    CFRelease(closing);
}

using SimDescriptorDeathTest = SimDescriptor;

// Apple asks for the CFFileDescriptor to be invalidated before its descriptor is closed.
TEST_F(SimDescriptorDeathTest, ClosingAWatchedDescriptorAborts) {
    EXPECT_DEATH(
        {
            Pipe pipe;
            watch(pipe.ends[1], [](CFFileDescriptorRef, CFOptionFlags, void*) {});
            ::close(pipe.ends[1]);
            CFRunLoopRun();
        },
        "was closed while");
}

} // namespace
