// What the Linux desktop platform offers the tools' seam twins (the *_linux.cpp files) beyond the
// Apple C API: the services that AppKit gives them on a Mac.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace xdesk {

// The frontmost application's process id: _NET_WM_PID of the window that the root window's
// _NET_ACTIVE_WINDOW names. -1 when that window has no pid (as a Mac reports an application
// without one); nothing when there is no active window or no display. In a Wayland session: the
// process of the application whose frame is ACTIVE on the accessibility bus, nothing when none.
std::optional<pid_t> frontmostApplicationPid();

// The properties of an NSRunningApplication, for an application of the desktop (UTF-8 texts,
// absent where the desktop says nothing). docs/linux-desktop.md has where each comes from.
struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    std::optional<std::string> executableName;
    pid_t processIdentifier = -1;
};

// Application activations, as the window manager shows them: the root window's
// _NET_ACTIVE_WINDOW names a window of another process than the last one did. In a Wayland
// session, as the accessibility bus shows them (xdesk/src/wayland_session.h). Switching between
// windows of one application, a moment without an active window, and a window without a process
// are no activation.
//
// Starts watching on a connection of its own and returns its descriptor, which becomes readable
// when there may be news; nothing without a display. The application that is active at the
// start counts as activated already, as on a Mac it is not announced again. Call once.
std::optional<int> watchActivations();

struct Activations {
    std::vector<RunningApplication> activated; // in order
    bool ended = false;                        // the connection is gone: no news will ever come
};

// Reads, without waiting, everything that has arrived on the watch's connection and returns the
// activations among it. Nothing is ever printed; a window that goes away while it is being read
// is no activation.
Activations takeActivations();

} // namespace xdesk
