// The run loop of the Linux desktop platform with CoreFoundation file descriptors: callbacks fire
// in the run loop, on the thread that runs it, once per enable; the loop sleeps in poll(2) while
// nothing is ready; and a process that runs the loop keeps a bounded number of released objects.
// Each test runs in a process of its own under CTest.
#include <CoreFoundation/CoreFoundation.h>
#include <cfcore/objects.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
    Pipe() {
        int ends[2];
        if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
            readEnd = ends[0];
            writeEnd = ends[1];
        }
    }
    ~Pipe() {
        closeEnd(readEnd);
        closeEnd(writeEnd);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    static void closeEnd(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
};

// Writes until the pipe takes no more; returns the bytes written.
std::size_t fill(int fd) {
    std::vector<char> block(65536, 'x');
    std::size_t total = 0;
    for (;;) {
        const ssize_t written = write(fd, block.data(), block.size());
        if (written <= 0) {
            return total;
        }
        total += static_cast<std::size_t>(written);
    }
}

std::size_t drain(int fd) {
    std::vector<char> block(65536);
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = read(fd, block.data(), block.size());
        if (got <= 0) {
            return total;
        }
        total += static_cast<std::size_t>(got);
    }
}

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

// Whether the thread `tid` of this process is asleep in poll or ppoll: its state is S and the
// system call it is in is one of the two.
bool sleepsInPoll(pid_t tid) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::ifstream statFile(task + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] != 'S') {
        return false;
    }
    std::ifstream syscallFile(task + "/syscall");
    long number = -1;
    syscallFile >> number;
    return number == SYS_poll || number == SYS_ppoll;
}

// Waits, for at most 10 s, until `condition` holds.
template <class Condition> bool waitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::yield();
    }
    return false;
}

struct WriterState {
    int writeEnd = -1;
    std::atomic<int> calls{0};
    std::atomic<int> drains{0};
    int rounds = 2; // the callback fills the pipe and enables itself again this often
    CFOptionFlags lastTypes = 0;
    bool onRunLoopThread = true;
    pid_t runLoopThread = 0;
    std::size_t refilled = 0;
};

void writable(CFFileDescriptorRef f, CFOptionFlags types, void* info) {
    auto* state = static_cast<WriterState*>(info);
    state->lastTypes = types;
    state->onRunLoopThread = state->onRunLoopThread && gettid() == state->runLoopThread;
    // The pipe turns writable as soon as the reader has taken some of it: refilled before the
    // reader is done, it would not be full again.
    waitUntil([state] { return state->drains > state->calls; });
    if (state->calls + 1 < state->rounds) {
        state->refilled += fill(state->writeEnd);
        CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorWriteCallBack);
        ++state->calls;
    } else {
        ++state->calls;
        CFRunLoopStop(CFRunLoopGetCurrent());
    }
}

int retains = 0;
int releases = 0;
void* countRetain(void* info) {
    ++retains;
    return info;
}
void countRelease(void*) {
    ++releases;
}

TEST(FileDescriptorSource, AFullPipeWakesTheSleepingLoopOncePerEnableWhenDrained) {
    Pipe pipe;
    ASSERT_GE(pipe.writeEnd, 0);
    WriterState state;
    state.writeEnd = pipe.writeEnd;
    state.runLoopThread = gettid();
    ASSERT_GT(fill(pipe.writeEnd), 0u);

    CFFileDescriptorContext context{0, &state, &countRetain, &countRelease, nullptr};
    CFFileDescriptorRef f =
        CFFileDescriptorCreate(kCFAllocatorDefault, pipe.writeEnd, false, &writable, &context);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(retains, 1);
    CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorWriteCallBack);
    CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0);
    ASSERT_NE(source, nullptr);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);

    // Each round, once the pipe is full again (the callback refills it), the reader waits until
    // the loop sleeps on it, then empties it.
    std::atomic<int> sleptBeforeDrain{0};
    std::thread reader([&] {
        for (int round = 0; round < state.rounds; ++round) {
            const bool refilled = waitUntil([&] { return state.calls == round; });
            if (refilled && waitUntil([&] { return sleepsInPoll(state.runLoopThread); })) {
                ++sleptBeforeDrain;
            }
            drain(pipe.readEnd);
            ++state.drains;
        }
    });
    CFRunLoopRun();
    reader.join();

    EXPECT_EQ(sleptBeforeDrain.load(), 2);
    EXPECT_EQ(state.calls.load(), 2);
    EXPECT_EQ(state.lastTypes, kCFFileDescriptorWriteCallBack);
    EXPECT_TRUE(state.onRunLoopThread);
    EXPECT_GT(state.refilled, 0u);

    // Not enabled again after the second call: the pipe stays writable, and nothing fires.
    drain(pipe.readEnd);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true), kCFRunLoopRunTimedOut);
    EXPECT_EQ(state.calls.load(), 2);

    CFFileDescriptorInvalidate(f);
    EXPECT_FALSE(CFFileDescriptorIsValid(f));
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(isOpen(pipe.writeEnd)); // made without closeOnInvalidate
    CFRelease(source);
    CFRelease(f);
    EXPECT_EQ(releases, 1);
}

struct ReaderState {
    int fd = -1;
    std::vector<std::string> chunks;
    bool sawEnd = false;
};

void readable(CFFileDescriptorRef f, CFOptionFlags types, void* info) {
    auto* state = static_cast<ReaderState*>(info);
    EXPECT_EQ(types, kCFFileDescriptorReadCallBack);
    char buffer[64];
    const ssize_t got = read(state->fd, buffer, sizeof buffer);
    if (got <= 0) {
        state->sawEnd = true;
        CFFileDescriptorInvalidate(f);
        return;
    }
    state->chunks.emplace_back(buffer, static_cast<std::size_t>(got));
    CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
}

TEST(FileDescriptorSource, ReadsArriveInOrderAndTheEndInvalidatesAndClosesTheDescriptor) {
    Pipe pipe;
    ReaderState state;
    state.fd = pipe.readEnd;
    CFFileDescriptorContext context{0, &state, nullptr, nullptr, nullptr};
    CFFileDescriptorRef f =
        CFFileDescriptorCreate(kCFAllocatorDefault, pipe.readEnd, true, &readable, &context);
    CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
    CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0);
    CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopDefaultMode);
    CFRelease(source);
    CFRelease(f); // the run loop keeps the source, the source the descriptor

    // Nothing to read yet: the run times out without a call.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut);
    EXPECT_TRUE(state.chunks.empty());

    ASSERT_EQ(write(pipe.writeEnd, "one", 3), 3);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
    ASSERT_EQ(write(pipe.writeEnd, "two", 3), 3);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(state.chunks, (std::vector<std::string>{"one", "two"}));

    Pipe::closeEnd(pipe.writeEnd);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
    EXPECT_TRUE(state.sawEnd);
    EXPECT_FALSE(isOpen(pipe.readEnd)); // closeOnInvalidate: closed by the invalidation
    pipe.readEnd = -1;
    // The invalidated source has left the run loop, and with it the last references.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut);
    EXPECT_EQ(cfcore::liveObjects(), 0u);
}

void stopAtOnce(CFFileDescriptorRef, CFOptionFlags, void* info) {
    ++*static_cast<int*>(info);
    CFRunLoopStop(CFRunLoopGetCurrent());
}

TEST(RunLoop, StopEndsTheRunAfterTheCalloutAndOnlyInsideARun) {
    // Outside a run, a stop is forgotten: the next run waits its whole time.
    CFRunLoopStop(CFRunLoopGetCurrent());
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false), kCFRunLoopRunTimedOut);

    // Two descriptors ready at once: the one with the lower order comes first, and the stop it
    // asks for ends the run before the other's callout.
    Pipe first;
    Pipe second;
    int firstCalls = 0;
    int secondCalls = 0;
    CFFileDescriptorContext firstContext{0, &firstCalls, nullptr, nullptr, nullptr};
    CFFileDescriptorContext secondContext{0, &secondCalls, nullptr, nullptr, nullptr};
    CFFileDescriptorRef late = CFFileDescriptorCreate(kCFAllocatorDefault, second.writeEnd, false,
                                                      &stopAtOnce, &secondContext);
    CFFileDescriptorRef early = CFFileDescriptorCreate(kCFAllocatorDefault, first.writeEnd, false,
                                                       &stopAtOnce, &firstContext);
    for (auto [f, order] : {std::pair{late, CFIndex{5}}, std::pair{early, CFIndex{-5}}}) {
        CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorWriteCallBack);
        CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(nullptr, f, order);
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
        CFRelease(source);
        CFRelease(f);
    }
    CFRunLoopRun();
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    CFRunLoopRun();
    EXPECT_EQ(secondCalls, 1);
}

TEST(RunLoop, AModeWithoutSourcesIsFinishedButTheDefaultModeWaits) {
    EXPECT_EQ(CFRunLoopRunInMode(CFSTR("SomeOtherMode"), 1, false), kCFRunLoopRunFinished);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, false), kCFRunLoopRunTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(20));
}

TEST(RunLoop, ARunningProcessKeepsABoundedNumberOfReleasedObjects) {
    // Unbounded, as the simulation and a one-shot tool keep them, every header stays.
    cfcore::keepReleasedObjects(static_cast<std::size_t>(-1));
    const std::size_t before = cfcore::registeredObjects();
    for (int i = 0; i < 5000; ++i) {
        CFRelease(CFStringCreateWithCString(nullptr, "early", kCFStringEncodingUTF8));
    }
    EXPECT_EQ(cfcore::registeredObjects(), before + 5000);

    // A run bounds them.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false), kCFRunLoopRunTimedOut);
    const std::size_t bound = cfcore::registeredObjects();
    EXPECT_LT(bound, before + 5000);
    for (int i = 0; i < 100000; ++i) {
        CFRelease(CFStringCreateWithCString(nullptr, "per event", kCFStringEncodingUTF8));
    }
    EXPECT_EQ(cfcore::registeredObjects(), bound);

    // A late use of a recent one is still named.
    CFStringRef recent = CFStringCreateWithCString(nullptr, "recent", kCFStringEncodingUTF8);
    CFRelease(recent);
    EXPECT_DEATH(CFRelease(recent), "CFRelease called with released CFString #[0-9]+");
}

} // namespace
