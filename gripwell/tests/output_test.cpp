// The running tool's line output against real pipes, files and terminals: what is
// written at once and what waits, the order and wholeness of what a reader gets, the exact bound,
// and which open file descriptions are made non-blocking.
#include "gripwell/output.h"

#include "base/tests/pipe.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace gripwell {
namespace {

using testpipe::Pipe;

Output outputTo(const Pipe& pipe) {
    Output out;
    out.fd = pipe.write();
    return out;
}

// Exactly maxBacklogBytes may wait; the line that would pass it is refused and nothing else
// changes.
TEST(Output, BacklogHoldsUpToTheBoundAndNotOneByteMore) {
    Pipe pipe;
    Output out = outputTo(pipe);
    pipe.fill();
    // 12-byte lines, then two "down" and two "up" (16 bytes) land exactly on the bound.
    static_assert((maxBacklogBytes - 16) % 12 == 0);
    for (std::size_t i = 0; i < (maxBacklogBytes - 16) / 12; ++i) {
        ASSERT_EQ(writeOrKeep(out, "combo_space\n"), LineOutcome::kept);
    }
    for (const char* line : {"down\n", "up\n", "down\n", "up\n"}) {
        EXPECT_EQ(writeOrKeep(out, line), LineOutcome::kept);
    }
    EXPECT_EQ(keptBytes(out), maxBacklogBytes);
    EXPECT_EQ(writeOrKeep(out, "up\n"), LineOutcome::tooFarBehind);
    EXPECT_EQ(keptBytes(out), maxBacklogBytes);
}

// A flush that fills the pipe leaves whole lines in it, and over several rounds every line comes
// out once, in order.
TEST(Output, FlushesWholeLinesInOrderOverManyRounds) {
    Pipe pipe;
    Output out = outputTo(pipe);
    pipe.fill();
    std::string expected;
    for (int i = 0; i < 40000; ++i) { // about 250 KiB: four pipes full
        const char* line = i % 3 == 0 ? "down\n" : i % 3 == 1 ? "combo_space\n" : "up\n";
        expected += line;
        ASSERT_EQ(writeOrKeep(out, line), LineOutcome::kept);
    }
    pipe.drain();
    std::string received;
    int rounds = 0;
    for (FlushOutcome outcome = FlushOutcome::waiting; outcome == FlushOutcome::waiting; ++rounds) {
        outcome = writeKept(out);
        const std::string piece = pipe.drain();
        ASSERT_FALSE(piece.empty());
        ASSERT_EQ(piece.back(), '\n')
            << "a line was cut at byte " << received.size() + piece.size();
        received += piece;
    }
    EXPECT_GT(rounds, 3);
    EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size() << " bytes";
    EXPECT_EQ(keptBytes(out), 0u);
}

// A terminal device, the other end as the host of a terminal would hold it.
struct Terminal {
    int host = -1, device = -1;
    Terminal() {
        host = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(host, 0);
        EXPECT_EQ(::grantpt(host), 0);
        EXPECT_EQ(::unlockpt(host), 0);
        device = ::open(::ptsname(host), O_RDWR | O_NOCTTY);
        EXPECT_GE(device, 0);
    }
    ~Terminal() {
        ::close(device);
        ::close(host);
    }
};

bool nonBlocking(int fd) {
    return (::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}

// `given` is the description a host hands over; standard output is a copy of it, which shares
// it, as a child's descriptors share its parent's.
TEST(Output, OnlyDescriptionsNobodyElseUsesBecomeNonBlocking) {
    const Pipe pipe;
    char fileName[] = "/tmp/gripwell-output-XXXXXX";
    const int file = ::mkstemp(fileName);
    ::unlink(fileName);
    Terminal terminal;
    const int null = ::open("/dev/null", O_WRONLY);
    struct Row {
        const char* kind;
        int given;
        OutputGuard guard;
        bool givenNonBlocking, ownNonBlocking;
    };
    const Row rows[] = {
        {"pipe", pipe.write(), OutputGuard::none, true, true},
        {"regular file", file, OutputGuard::none, false, false},
        {"terminal", terminal.device, OutputGuard::none, false, true},
        {"other device", null, OutputGuard::pollFirst, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        const int standardOutput = ::dup(row.given);
        EXPECT_EQ(prepareOutput(standardOutput), row.guard);
        EXPECT_EQ(nonBlocking(row.given), row.givenNonBlocking);
        EXPECT_EQ(nonBlocking(standardOutput), row.ownNonBlocking);
        Output out;
        out.fd = standardOutput;
        out.guard = row.guard;
        EXPECT_EQ(writeOrKeep(out, "ready\n"), LineOutcome::written);
        ::close(standardOutput);
    }
    ::close(file);
    ::close(null);
}

} // namespace
} // namespace gripwell
