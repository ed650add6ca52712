// Whole writes to real pipes: each outcome, the count of what went out before a non-blocking
// pipe filled up, a write that signals keep interrupting, and a waiting write that needs many
// waits.
#include "base/line_out.h"
#include "base/tests/pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using base::WriteOutcome;

using testpipe::Pipe;

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

// A reader gone is the reader-gone scenarios' to show.
TEST(WriteAll, EachOutcome) {
    Pipe open, full;
    EXPECT_EQ(base::writeAll(open.write(), "ready\n").outcome, WriteOutcome::written);
    EXPECT_EQ(open.drain(), "ready\n");
    EXPECT_EQ(base::writeAll(open.read(), "up\n").outcome, WriteOutcome::failed); // EBADF
    // More than a pipe holds: the first write goes out in part, the next one would block.
    ::fcntl(full.write(), F_SETFL, O_NONBLOCK);
    const std::string bytes = pattern(1 << 20);
    const base::WriteResult result = base::writeAll(full.write(), bytes);
    EXPECT_EQ(result.outcome, WriteOutcome::wouldBlock);
    EXPECT_GT(result.bytesWritten, 0u);
    EXPECT_TRUE(full.drain() == bytes.substr(0, result.bytesWritten));
}

std::atomic<int> signalsHandled{0};

// A blocked write(2) that a handled signal interrupts returns what it wrote so far, or fails with
// EINTR when it wrote nothing yet: the handler is installed without SA_RESTART. The reader
// interrupts the writer twice before each read, so both happen many times over.
TEST(WriteAll, ResumesAfterPartialWritesAndInterruptions) {
    struct sigaction action = {};
    action.sa_handler = [](int) { signalsHandled.fetch_add(1); };
    sigemptyset(&action.sa_mask);
    struct sigaction previous = {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    Pipe pipe;
    const std::string bytes = pattern(256 << 10);
    const pthread_t writer = ::pthread_self();
    std::string received;
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        char chunk[1024];
        while (received.size() < bytes.size() && std::chrono::steady_clock::now() < deadline) {
            for (int i = 0; i < 2; ++i) {
                const int seen = signalsHandled.load();
                ::pthread_kill(writer, SIGUSR1);
                while (signalsHandled.load() == seen &&
                       std::chrono::steady_clock::now() < deadline) {
                }
            }
            const ssize_t n = ::read(pipe.read(), chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
    });
    const base::WriteResult result = base::writeAll(pipe.write(), bytes);
    ::close(pipe.ends[1]); // a writer that gave up early leaves the reader at the end of the data
    pipe.ends[1] = -1;
    reader.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(result.outcome, WriteOutcome::written);
    EXPECT_EQ(result.bytesWritten, bytes.size());
    EXPECT_TRUE(received == bytes) << "received " << received.size() << " bytes";
}

// Whether thread `tid` of this process sleeps in poll(2) (or ppoll): a writer waiting for room.
bool waitsInPoll(pid_t tid) {
    std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    syscall >> number;
    bool polling = false;
#ifdef SYS_poll
    polling = polling || number == SYS_poll;
#endif
#ifdef SYS_ppoll
    polling = polling || number == SYS_ppoll;
#endif
    return polling;
}

// A line many times what a small non-blocking pipe holds: the writer fills the pipe, waits for
// room, and must go on from where it stopped each time. The reader takes one pipe's worth only
// while the writer waits, so the line needs a wait per pipe's worth, as from a host that reads
// slowly; what arrives must be the line exactly, once.
TEST(WriteAllWaiting, ALineThatNeedsManyWaitsArrivesWholeAndInOrder) {
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    Pipe pipe;
    ::fcntl(pipe.write(), F_SETPIPE_SZ, 4096);
    const int capacity = ::fcntl(pipe.write(), F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    ::fcntl(pipe.write(), F_SETFL, O_NONBLOCK);
    const std::string line = pattern(static_cast<std::size_t>(capacity) * 16 + 123) + "\n";

    std::atomic<pid_t> writerTid{0};
    std::atomic<bool> writerDone{false};
    int waitsSeen = 0;
    std::string received;
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string chunk(static_cast<std::size_t>(capacity), '\0');
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t tid = writerTid.load();
            if (writerDone.load() || received.size() > line.size()) {
                break;
            }
            if (tid == 0 || !waitsInPoll(tid)) {
                continue;
            }
            ++waitsSeen;
            const ssize_t n = ::read(pipe.read(), chunk.data(), chunk.size());
            if (n <= 0) {
                break;
            }
            received.append(chunk.data(), static_cast<std::size_t>(n));
        }
        if (!writerDone.load()) {
            // A writer that never ends gets EPIPE: the test fails instead of hanging.
            received += pipe.drain();
            ::close(pipe.ends[0]);
            pipe.ends[0] = -1;
        }
    });
    writerTid = static_cast<pid_t>(::syscall(SYS_gettid));
    const base::WriteResult result = base::writeAllWaiting(pipe.write(), line);
    writerDone = true;
    reader.join();
    if (pipe.read() >= 0) {
        received += pipe.drain();
    }
    std::signal(SIGPIPE, previous);

    EXPECT_EQ(result.outcome, WriteOutcome::written);
    EXPECT_EQ(result.bytesWritten, line.size());
    EXPECT_GE(waitsSeen, 2);
    EXPECT_TRUE(received == line) << "received " << received.size() << " of " << line.size()
                                  << " bytes";
}

} // namespace
