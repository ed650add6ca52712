// What the Linux desktop platform offers the tools' seam twins (the *_linux.cpp files) beyond the
// Apple C API: the services that AppKit gives them on a Mac.
#pragma once

#include <sys/types.h>

#include <optional>

namespace xdesk {

// The frontmost application's process id: _NET_WM_PID of the window that the root window's
// _NET_ACTIVE_WINDOW names. -1 when that window has no pid (as a Mac reports an application
// without one); nothing when there is no active window or no display.
std::optional<pid_t> frontmostApplicationPid();

} // namespace xdesk
