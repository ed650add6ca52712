// Writing whole lines to a file descriptor with write(2): no user-space buffer, so a reader sees
// each line the moment it is written.
#pragma once

#include <cstddef>
#include <string_view>

namespace base {

enum class WriteOutcome {
    written,    // every byte went out
    wouldBlock, // the descriptor is non-blocking and full (EAGAIN); the rest is still to write
    readerGone, // EPIPE: the reading end is closed, so nothing written here will ever be read
    failed,     // any other error; what went out before it stays written
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::written;
    std::size_t bytesWritten = 0; // before the write stopped; all of them when written
};

// Writes `bytes` to `fd`, resuming after a partial write and after EINTR, until every byte is out
// or a write fails. Telling a reader that has gone needs SIGPIPE ignored; otherwise the signal
// ends the process first.
[[nodiscard]] WriteResult writeAll(int fd, std::string_view bytes) noexcept;

// As writeAll, but where the descriptor is non-blocking and full (a host may hand over such a
// pipe), waits with poll until it takes the rest: for a writer that holds up nobody's input and
// must not leave the head of a line without its end. Never returns wouldBlock.
[[nodiscard]] WriteResult writeAllWaiting(int fd, std::string_view bytes) noexcept;

} // namespace base
