// The child runner's readers of standard output: one that stalls really reads nothing until told
// or until the child ends, one that never reads leaves the pipe full, and both still bring back
// every byte the child wrote.
#include <macsim/child.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// In the child: fills standard output until a write would wait, and says how much went in.
std::size_t fillStandardOutput() {
    ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
    static const std::string chunk(4096, 'x');
    std::size_t filled = 0;
    for (ssize_t n; (n = ::write(STDOUT_FILENO, chunk.data(), chunk.size())) > 0;) {
        filled += static_cast<std::size_t>(n);
    }
    return filled;
}

TEST(ChildReading, HeldBackReadersStillGetEveryByte) {
    struct Row {
        const char* what;
        macsim::Reading reading;
        bool resume; // the child tells the parent to read, then writes a last line
    };
    const Row rows[] = {
        {"stalled, then told", macsim::Reading::stalled, true},
        {"stalled, never told", macsim::Reading::stalled, false},
        {"never read", macsim::Reading::never, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        static std::size_t filled = 0;
        macsim::ChildOptions options;
        options.reading = row.reading;
        options.timeoutSeconds = 5;
        options.report = [] { return std::to_string(filled); };
        const bool resume = row.resume;
        const macsim::ChildResult child = macsim::runChild(
            [resume] {
                filled = fillStandardOutput();
                if (resume) {
                    macsim::resumeReading();
                    ::fcntl(STDOUT_FILENO, F_SETFL, 0);
                    const std::string more(200000,
                                           'y'); // more than the pipe holds: waits for the reader
                    for (std::size_t done = 0; done < more.size();) {
                        const ssize_t n =
                            ::write(STDOUT_FILENO, more.data() + done, more.size() - done);
                        if (n <= 0) {
                            return 1;
                        }
                        done += static_cast<std::size_t>(n);
                    }
                }
                return 0;
            },
            options);
        EXPECT_EQ(child.signal, 0);
        EXPECT_EQ(child.exitCode, 0);
        ASSERT_GT(std::stoul(child.report), 0u);
        const std::string expected = std::string(std::stoul(child.report), 'x') +
                                     (row.resume ? std::string(200000, 'y') : "");
        EXPECT_TRUE(child.out == expected) << child.out.size() << " bytes of " << expected.size();
    }
}

} // namespace
