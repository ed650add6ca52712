// The line output of the running gripwell. Every key event of the session waits for the tap
// callback, so writing a line must never wait for the reader: a line goes out at once when
// standard output takes it, and otherwise waits, in order and behind any line already waiting,
// in a bounded backlog that the run loop writes out once standard output takes more.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gripwell {

// Bytes of lines that may wait for a slow reader. A reader that far behind is treated like a
// reader that has gone.
inline constexpr std::size_t maxBacklogBytes = std::size_t{1} << 20;

// How writes to the descriptor are kept from waiting.
enum class OutputGuard {
    none,      // writes return at once: the descriptor is non-blocking, or a regular file
    pollFirst, // a blocking descriptor that cannot be changed: write only what poll allows
};

struct Output {
    int fd = -1;
    OutputGuard guard = OutputGuard::none;
    std::string backlog;  // lines not yet written, oldest first, from `sent` on
    std::size_t sent = 0; // bytes at the front of `backlog` already written
};

// Makes writes to `fd` return at once rather than wait for its reader, and says what guard the
// writes still need. A pipe or socket becomes non-blocking; a terminal is opened again, as a new
// description of its own that becomes non-blocking, in place of `fd`; a regular file is left as
// it is (it never fills up); anything else needs the poll guard.
[[nodiscard]] OutputGuard prepareOutput(int fd) noexcept;

// Bytes waiting in the backlog.
[[nodiscard]] std::size_t keptBytes(const Output& out) noexcept;

enum class LineOutcome {
    written,      // the whole line went out
    kept,         // the line, or what was left of it, waits in the backlog
    dropped,      // the write failed otherwise; the line is lost, as any failed write's line
    readerGone,   // EPIPE: nobody will ever read the line
    tooFarBehind, // keeping the line would take the backlog past maxBacklogBytes
};

// Writes `line` at once if nothing waits and the descriptor takes it; otherwise keeps it behind
// the lines that wait. Never waits; allocates only when a line must be kept.
[[nodiscard]] LineOutcome writeOrKeep(Output& out, std::string_view line) noexcept;

enum class FlushOutcome {
    done,       // nothing waits any more
    waiting,    // the descriptor is full again; the rest waits
    readerGone, // EPIPE
};

// Writes as much of the backlog as the descriptor takes now, in order. Each write holds whole
// lines only, no more than PIPE_BUF bytes, which a pipe takes entirely or not at all: its reader
// never finds half a line in it, not even when the process ends with lines waiting.
[[nodiscard]] FlushOutcome writeKept(Output& out) noexcept;

} // namespace gripwell
