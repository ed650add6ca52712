// Which kind of graphical session the process runs in. A Wayland session sets DISPLAY too (for
// Xwayland), yet X11 sees only the X clients of such a session: the platform takes each of its
// answers from the source that is right for the session, decided once per process.
#pragma once

#include <string_view>

namespace xdesk {

enum class SessionType { x11, wayland };

// A Wayland session names its compositor (WAYLAND_DISPLAY) or says so (XDG_SESSION_TYPE);
// anything else is taken as X11. Either argument may be NULL (the variable is unset).
inline SessionType sessionTypeFor(const char* waylandDisplay, const char* xdgSessionType) {
    if ((waylandDisplay != nullptr && *waylandDisplay != '\0') ||
        (xdgSessionType != nullptr && std::string_view(xdgSessionType) == "wayland")) {
        return SessionType::wayland;
    }
    return SessionType::x11;
}

// The session of this process, from its environment at the first call.
SessionType sessionType();

} // namespace xdesk
