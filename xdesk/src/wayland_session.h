// The desktop of a Wayland session. No Wayland protocol tells a client which window has the
// keyboard focus or which process owns a window, so the accessibility bus says it: only the
// window with the keyboard focus has the ACTIVE state on its frame (Xwayland windows included,
// on every compositor), and its application's process is known to the bus. Activation and keys
// go through the compositor where it offers a way (wayland.h).
#pragma once

#include "atspi_calls.h"

#include <xdesk/desktop.h>

#include <sys/types.h>

#include <optional>
#include <utility>
#include <vector>

namespace xdesk::wayland {

// The process of the application whose frame is ACTIVE; nothing when no application on the
// accessibility bus has one (the window in front is not on the bus, or there is none) and when
// two processes say so (one of them has stopped answering for its state): no guess is made.
[[nodiscard]] std::optional<pid_t> frontmostApplicationPid();

// The ACTIVE frames of the application in front, with their states, for the search of the
// desktop's focus; none where frontmostApplicationPid is nothing (no window on the bus in front,
// or two applications that say they are).
[[nodiscard]] std::vector<std::pair<Accessible, States>> frontFrames();

// Asks the compositor to activate a window of `pid`, found in its list by the titles of the
// application's frames and its names (wayland::activateWindow). False when no request went out:
// no such application on the bus, a compositor that cannot activate windows (mutter), or no
// window, or none that can be told apart from another application's.
[[nodiscard]] bool requestActivation(pid_t pid);

// Application activations as the accessibility bus shows them: window:activate and
// window:deactivate of the applications' frames (wayland_rules.h says which make an
// activation), and the frames of each application that joins the bus, looked at a few times
// after it joins. As xdesk::watchActivations: a descriptor to wait on, nothing when the bus does
// not answer; then takeActivations as xdesk::takeActivations.
std::optional<int> watchActivations();
Activations takeActivations();

} // namespace xdesk::wayland
