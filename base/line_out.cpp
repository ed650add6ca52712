#include "base/line_out.h"

#include <cerrno>
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

} // namespace base
