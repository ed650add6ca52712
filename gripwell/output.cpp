#include "gripwell/output.h"

#include "base/line_out.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gripwell {
namespace {

bool setNonBlocking(int fd) noexcept {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Puts a non-blocking description of the same terminal in place of `fd`, leaving the one we were
// given, and every process that shares it, as they were.
bool reopenTerminal(int fd) noexcept {
    struct stat before = {};
    const char* path = ::ttyname(fd); // single-threaded: the static buffer is ours
    if (path == nullptr || ::fstat(fd, &before) != 0) {
        return false;
    }
    const int own = ::open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (own < 0) {
        return false;
    }
    struct stat after = {};
    const bool same = ::fstat(own, &after) == 0 && after.st_rdev == before.st_rdev;
    const bool placed = same && ::dup2(own, fd) == fd;
    ::close(own);
    return placed;
}

// Whether a write to a blocking descriptor would go through now. An error or hang-up counts: the
// write then returns at once and tells which.
bool takesDataNow(int fd) noexcept {
    pollfd request = {fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&request, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

base::WriteResult writeNow(const Output& out, std::string_view bytes) noexcept {
    if (out.guard == OutputGuard::pollFirst && !takesDataNow(out.fd)) {
        return {base::WriteOutcome::wouldBlock, 0};
    }
    return base::writeAll(out.fd, bytes);
}

// The front of `rest` for one write: whole lines, at most PIPE_BUF bytes, or the first PIPE_BUF
// bytes when no line feed comes that early (which gripwell's short lines never do). A pipe says
// it takes data only once it has room for PIPE_BUF bytes, so such a write then goes through
// whole.
std::string_view nextPiece(std::string_view rest) noexcept {
    if (rest.size() <= PIPE_BUF) {
        return rest;
    }
    const std::size_t lastFeed = rest.rfind('\n', PIPE_BUF - 1);
    return rest.substr(0, lastFeed == std::string_view::npos ? PIPE_BUF : lastFeed + 1);
}

} // namespace

// O_NONBLOCK belongs to the open file description, which other processes may share:
// - A host starts us with a pipe or a socket. Nobody else writes into a child's output, so the
//   description of that writing end is ours to change.
// - A terminal is shared with the shell that started us, which must not find it non-blocking
//   afterwards; yet a terminal can stop taking output for good (flow control, ^S), so it gets a
//   description of its own.
// - A regular file never fills up: a write to it does not wait for any reader.
// - For anything else, and a terminal that cannot be opened again, each write first asks poll
//   whether the descriptor takes data now.
OutputGuard prepareOutput(int fd) noexcept {
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        return OutputGuard::none; // not open: every write fails at once
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return setNonBlocking(fd) ? OutputGuard::none : OutputGuard::pollFirst;
    }
    if (S_ISREG(info.st_mode)) {
        return OutputGuard::none;
    }
    if (::isatty(fd) != 0 && reopenTerminal(fd)) {
        return OutputGuard::none;
    }
    return OutputGuard::pollFirst;
}

std::size_t keptBytes(const Output& out) noexcept {
    return out.backlog.size() - out.sent;
}

LineOutcome writeOrKeep(Output& out, std::string_view line) noexcept {
    if (keptBytes(out) == 0) {
        const base::WriteResult result = writeNow(out, line);
        switch (result.outcome) {
        case base::WriteOutcome::written:
            return LineOutcome::written;
        case base::WriteOutcome::readerGone:
            return LineOutcome::readerGone;
        case base::WriteOutcome::failed:
            return LineOutcome::dropped;
        case base::WriteOutcome::wouldBlock:
            line.remove_prefix(result.bytesWritten);
            break;
        }
        out.backlog.clear();
        out.sent = 0;
    }
    if (keptBytes(out) + line.size() > maxBacklogBytes) {
        return LineOutcome::tooFarBehind;
    }
    try {
        out.backlog.append(line);
    } catch (const std::bad_alloc&) {
        return LineOutcome::tooFarBehind;
    }
    return LineOutcome::kept;
}

FlushOutcome writeKept(Output& out) noexcept {
    while (keptBytes(out) != 0) {
        const std::string_view rest = std::string_view(out.backlog).substr(out.sent);
        const base::WriteResult result = writeNow(out, nextPiece(rest));
        out.sent += result.bytesWritten;
        if (result.outcome == base::WriteOutcome::readerGone) {
            return FlushOutcome::readerGone;
        }
        if (result.outcome == base::WriteOutcome::wouldBlock) {
            break;
        }
        if (result.outcome == base::WriteOutcome::failed) {
            out.sent = out.backlog.size(); // lost, as a line whose write fails at once
        }
    }
    if (keptBytes(out) == 0) {
        out.backlog.clear(); // keeps its capacity for the next time the reader lags
        out.sent = 0;
        return FlushOutcome::done;
    }
    // Moving the rest to the front once half is written keeps appending and writing linear.
    if (out.sent >= out.backlog.size() / 2) {
        out.backlog.erase(0, out.sent);
        out.sent = 0;
    }
    return FlushOutcome::waiting;
}

} // namespace gripwell
