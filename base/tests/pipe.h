// Both ends of a pipe, for tests of writes into one; each end is closed at the end unless a test
// closed it first and set it to -1.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace testpipe {

struct Pipe {
    std::array<int, 2> ends{-1, -1};

    Pipe() { EXPECT_EQ(::pipe(ends.data()), 0); }
    ~Pipe() {
        for (int end : ends) {
            if (end >= 0) {
                ::close(end);
            }
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int read() const { return ends[0]; }
    int write() const { return ends[1]; }

    // Makes the writing end non-blocking, as a host's pipe may be, and writes into it until it is
    // full; the bytes written.
    std::size_t fill() const {
        ::fcntl(write(), F_SETFL, O_NONBLOCK);
        static const std::string chunk(65536, 'x');
        std::size_t filled = 0;
        for (ssize_t n; (n = ::write(write(), chunk.data(), chunk.size())) > 0;) {
            filled += static_cast<std::size_t>(n);
        }
        return filled;
    }

    // What the pipe holds now, read without waiting.
    std::string drain() const {
        ::fcntl(read(), F_SETFL, O_NONBLOCK);
        std::string out;
        char chunk[65536];
        for (ssize_t n; (n = ::read(read(), chunk, sizeof chunk)) > 0;) {
            out.append(chunk, static_cast<std::size_t>(n));
        }
        return out;
    }
};

} // namespace testpipe
