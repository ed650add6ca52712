// What every tool process on the Linux desktop does before anything else runs: standard error
// goes nowhere.
//
// The tools promise that they write nothing to standard error, and the platform's own code keeps
// that (GLib's log handlers and Xlib's error handlers are replaced). Some library code writes to
// file descriptor 2 directly, before any handler can be set: when the X server refuses the
// connection, Xlib prints the server's reason ("Authorization required, but no authorization
// protocol specified") from inside XOpenDisplay. So descriptor 2 is pointed at /dev/null once, as
// the process starts, for the whole process. This file is linked into the tool executables only,
// never into a library or a test, so a test's own diagnostics still reach its standard error.
#include <fcntl.h>
#include <unistd.h>

namespace {

// Descriptor 2 refers to /dev/null afterwards; failing that (no /dev/null, as in a bare chroot),
// to the writing end of a pipe that nobody reads, which takes a little and then refuses without
// blocking. Never is it left closed: the next descriptor the process opened (the X connection,
// the text file) would then be number 2, and a library's message would go into it.
void quietStandardError() {
    const int null = ::open("/dev/null", O_WRONLY | O_NOCTTY);
    if (null >= 0) {
        if (null != STDERR_FILENO) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
        return;
    }
    int ends[2];
    if (::pipe(ends) != 0) {
        ::close(STDERR_FILENO); // nothing better is left
        return;
    }
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    if (ends[1] != STDERR_FILENO) {
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
    }
    // The reading end stays open, so that a write gets EAGAIN rather than SIGPIPE.
}

// Runs before main and before the constructors of the executable's other objects.
__attribute__((constructor(101))) void quietStandardErrorAtStart() {
    quietStandardError();
}

} // namespace
