// The run loop of the Linux desktop platform with a CoreFoundation file descriptor, for what the
// desktop tests cannot see: a callback fires once per enable, and invalidation lets go of the
// context, of the descriptor (closed only when asked) and of its source in the run loop. That
// gripwell's waiting lines reach a reader who reads again, that vantor reads its display in order,
// that a lost display stops the run and that a running process's memory stays bounded are the
// desktop tests' to show.
#include <CoreFoundation/CoreFoundation.h>
#include <cfcore/objects.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

int calls = 0;
CFOptionFlags lastTypes = 0;
int retains = 0;
int releases = 0;

void countCall(CFFileDescriptorRef, CFOptionFlags types, void*) {
    ++calls;
    lastTypes = types;
}
void* countRetain(void* info) {
    ++retains;
    return info;
}
void countRelease(void*) {
    ++releases;
}

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

TEST(FileDescriptorSource, FiresOncePerEnableAndInvalidationLetsGoOfEverything) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
    CFFileDescriptorContext context{0, &calls, &countRetain, &countRelease, nullptr};
    CFFileDescriptorRef reader =
        CFFileDescriptorCreate(kCFAllocatorDefault, ends[0], true, &countCall, &context);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(retains, 1);
    CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, reader, 0);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
    CFRelease(source); // the run loop keeps the source, the source the descriptor
    CFFileDescriptorEnableCallBacks(reader, kCFFileDescriptorReadCallBack);

    // Nothing to read: no call. Readable: one call, then none while the byte stays unread, until
    // the callback is enabled again.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true), kCFRunLoopRunTimedOut);
    ASSERT_EQ(write(ends[1], "x", 1), 1);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true), kCFRunLoopRunTimedOut);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(lastTypes, kCFFileDescriptorReadCallBack);
    CFFileDescriptorEnableCallBacks(reader, kCFFileDescriptorReadCallBack);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(calls, 2);

    CFFileDescriptorInvalidate(reader);
    EXPECT_FALSE(CFFileDescriptorIsValid(reader));
    EXPECT_EQ(releases, 1);
    EXPECT_FALSE(isOpen(ends[0])); // made with closeOnInvalidate
    CFRelease(reader);
    EXPECT_EQ(releases, 1);
    // Invalidation took the source out of the run loop, and with it went the last references.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut);
    EXPECT_EQ(cfcore::liveObjects(), 0u);

    CFFileDescriptorContext none{0, nullptr, nullptr, nullptr, nullptr};
    CFFileDescriptorRef writer =
        CFFileDescriptorCreate(kCFAllocatorDefault, ends[1], false, &countCall, &none);
    CFFileDescriptorInvalidate(writer);
    EXPECT_TRUE(isOpen(ends[1])); // made without closeOnInvalidate
    CFRelease(writer);
    close(ends[1]);
}

} // namespace
