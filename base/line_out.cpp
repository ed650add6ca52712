#include "base/line_out.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace base {

WriteResult writeAll(int fd, std::string_view bytes) noexcept {
    WriteResult result;
    while (result.bytesWritten < bytes.size()) {
        const std::string_view rest = bytes.substr(result.bytesWritten);
        const ssize_t count = ::write(fd, rest.data(), rest.size());
        if (count > 0) {
            result.bytesWritten += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            result.outcome = WriteOutcome::wouldBlock;
        } else if (count < 0 && errno == EPIPE) {
            result.outcome = WriteOutcome::readerGone;
        } else {
            result.outcome = WriteOutcome::failed; // an error, or no progress on a non-empty write
        }
        return result;
    }
    return result;
}

WriteResult writeAllWaiting(int fd, std::string_view bytes) noexcept {
    std::size_t done = 0;
    for (;;) {
        WriteResult result = writeAll(fd, bytes.substr(done));
        done += result.bytesWritten;
        result.bytesWritten = done;
        if (result.outcome != WriteOutcome::wouldBlock) {
            return result;
        }
        pollfd request = {fd, POLLOUT, 0};
        while (::poll(&request, 1, -1) < 0) {
            if (errno != EINTR) {
                result.outcome = WriteOutcome::failed;
                return result;
            }
        }
    }
}

} // namespace base
