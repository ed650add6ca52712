#include "scribbet/entry.h"

#include "scribbet/ax.h"
#include "scribbet/context.h"
#include "scribbet/fast_paste.h"
#include "scribbet/focus.h"
#include "scribbet/splice.h"

#include "unicode/utf.h"

#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace scribbet {

namespace {

// A UTF-8 byte-order mark.
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    explicit Descriptor(int given) : fd(given) {}
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// The whole of a regular file, as big as it was when opened. Anything else gives nothing, within
// a bounded time and memory: a FIFO (whose open would wait for a writer for ever, so it is opened
// without waiting), a directory, a socket, a device (/dev/zero never ends), and a file that grew
// while it was read, which was not whole when the read began.
std::optional<std::string> readWholeFile(const std::string& path) {
    struct stat status {};
    // Looked at before it is opened: opening some devices has effects of its own.
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    // Looked at again once open: the path may name something else by now.
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    std::string bytes;
    // Reserved up front: no copies of a growing buffer.
    bytes.reserve(size);
    char buffer[65536];
    for (;;) {
        // One byte more than the size is asked for at the end, to see whether the file has grown.
        const std::size_t wanted =
            std::min(sizeof buffer, bytes.size() < size ? size - bytes.size() : std::size_t{1});
        const ssize_t count = ::read(file.fd, buffer, wanted);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return bytes; // the end; a file that shrank meanwhile ends early, whole
        }
        if (bytes.size() + static_cast<std::size_t>(count) > size) {
            return std::nullopt; // it grew while it was read
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

} // namespace

std::optional<pid_t> parseTargetPid(const Arguments& arguments) {
    if (arguments.size() < 3) {
        return std::nullopt;
    }
    std::string_view text = arguments[1];
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Built digit by digit; any step that leaves the 32-bit signed range gives nothing.
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const int digit = c - '0';
        value = negative ? value * 10 - digit : value * 10 + digit;
        if (value > std::numeric_limits<std::int32_t>::max() ||
            value < std::numeric_limits<std::int32_t>::min()) {
            return std::nullopt;
        }
    }
    if (value < 1) {
        return std::nullopt;
    }
    return static_cast<pid_t>(value);
}

std::optional<std::u16string> decodeInputText(std::string_view bytes) {
    // A byte-order mark is not part of the text. Skipped as bytes, it costs no moving of the
    // decoded text; a mark that is not at the start is kept as U+FEFF.
    if (bytes.substr(0, byteOrderMark.size()) == byteOrderMark) {
        bytes.remove_prefix(byteOrderMark.size());
    }
    return unicode::utf16FromUtf8(bytes);
}

std::optional<std::u16string> readInputText(const Arguments& arguments) {
    if (arguments.size() < 3) {
        return std::nullopt;
    }
    // A file too big to hold, or to decode, is one that cannot be read: the run still ends in
    // its line instead of an uncaught exception.
    try {
        const std::optional<std::string> bytes = readWholeFile(arguments[2]);
        if (!bytes) {
            return std::nullopt;
        }
        return decodeInputText(*bytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

HelperResponse respond(const Arguments& arguments) {
    const std::optional<pid_t> targetPid = parseTargetPid(arguments);
    if (!targetPid) {
        HelperResponse response("invalid_target_pid");
        response.error = "missing_or_invalid_pid";
        return response;
    }
    if (arguments.size() >= 3 && arguments[2] == fastPasteSwitch) {
        return runFastPaste(*targetPid);
    }
    std::optional<std::u16string> text = readInputText(arguments);
    if (!text) {
        return targetOutcome("unexpected_error", *targetPid, "text_read_failed");
    }
    if (!AXIsProcessTrusted()) {
        return targetOutcome("accessibility_not_trusted", *targetPid, "accessibility_not_trusted");
    }
    std::optional<FocusedElement> focused = resolveFocusedElement(*targetPid);
    if (!focused) {
        return targetOutcome("no_focused_element", *targetPid, std::nullopt);
    }
    const std::optional<pid_t> focusedPid = focused->focusedPid;
    if (focusedPid && *focusedPid != *targetPid) {
        // Another process has the focus: report what it is, and touch nothing. The role is read
        // before the subrole.
        const std::optional<std::u16string> role =
            copyStringAttribute(focused->element.get(), CFSTR("AXRole"));
        const std::optional<std::u16string> subrole =
            copyStringAttribute(focused->element.get(), CFSTR("AXSubrole"));
        return elementOutcome("target_mismatch", role, subrole, *targetPid, focusedPid);
    }
    InsertionResolution resolution = resolveInsertionContext(focused->element.get());
    focused.reset(); // the context holds a reference of its own
    if (auto* failure = std::get_if<ResolutionFailure>(&resolution)) {
        return elementOutcome(failure->status, failure->role, failure->subrole, *targetPid,
                              focusedPid);
    }
    return runDirectInsertion(std::get<TextInsertionContext>(std::move(resolution)),
                              std::move(*text), *targetPid, focusedPid);
}

void run(const Arguments& arguments) {
    // A host that stops reading must not kill us with a signal: a failed write is just ignored.
    std::signal(SIGPIPE, SIG_IGN);
    std::optional<HelperResponse> response;
    try {
        response.emplace(respond(arguments));
    } catch (const std::bad_alloc&) {
        // Out of memory on the way, a field value too big to copy, say: every owned reference
        // has been released on the way out, and the host still gets a line rather than a crash.
        emitFallback();
    }
    emit(*response);
}

} // namespace scribbet
