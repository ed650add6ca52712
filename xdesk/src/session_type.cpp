#include "session_type.h"

#include <cstdlib>

namespace xdesk {

SessionType sessionType() {
    static const SessionType type =
        sessionTypeFor(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
    return type;
}

} // namespace xdesk
