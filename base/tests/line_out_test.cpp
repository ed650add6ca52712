// Whole writes to real pipes: each outcome, the count of what went out before a non-blocking
// descriptor filled up, and a write that signals keep interrupting.
#include "base/line_out.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using base::WriteOutcome;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0) {
            ::close(read);
            read = -1;
        }
    }
    void closeWrite() {
        if (write >= 0) {
            ::close(write);
            write = -1;
        }
    }
    std::string drain() const {
        ::fcntl(read, F_SETFL, O_NONBLOCK);
        std::string out;
        char chunk[65536];
        for (ssize_t n; (n = ::read(read, chunk, sizeof chunk)) > 0;) {
            out.append(chunk, static_cast<std::size_t>(n));
        }
        return out;
    }
};

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

TEST(WriteAll, EachOutcome) {
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    {
        Pipe pipe;
        const base::WriteResult result = base::writeAll(pipe.write, "ready\n");
        EXPECT_EQ(result.outcome, WriteOutcome::written);
        EXPECT_EQ(result.bytesWritten, 6u);
        EXPECT_EQ(pipe.drain(), "ready\n");
    }
    {
        Pipe pipe;
        pipe.closeRead();
        const base::WriteResult result = base::writeAll(pipe.write, "up\n");
        EXPECT_EQ(result.outcome, WriteOutcome::readerGone);
        EXPECT_EQ(result.bytesWritten, 0u);
    }
    {
        Pipe pipe; // the reading end cannot be written: EBADF
        EXPECT_EQ(base::writeAll(pipe.read, "up\n").outcome, WriteOutcome::failed);
    }
    {
        // More than a pipe holds: the first write goes out in part, the next would block.
        Pipe pipe;
        ::fcntl(pipe.write, F_SETFL, O_NONBLOCK);
        const std::string bytes = pattern(1 << 20);
        const base::WriteResult result = base::writeAll(pipe.write, bytes);
        EXPECT_EQ(result.outcome, WriteOutcome::wouldBlock);
        EXPECT_GT(result.bytesWritten, 0u);
        EXPECT_EQ(pipe.drain(), bytes.substr(0, result.bytesWritten));
    }
    std::signal(SIGPIPE, previous);
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
            const ssize_t n = ::read(pipe.read, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
    });
    const base::WriteResult result = base::writeAll(pipe.write, bytes);
    pipe.closeWrite(); // a writer that gave up early leaves the reader at the end of the data
    reader.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(result.outcome, WriteOutcome::written);
    EXPECT_EQ(result.bytesWritten, bytes.size());
    EXPECT_TRUE(received == bytes) << "received " << received.size() << " bytes";
}

} // namespace
