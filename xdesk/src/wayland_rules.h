// The decisions of a Wayland session that need no desktop: which toplevel window of the
// compositor's list belongs to an application, and which window activations on the
// accessibility bus make an application activation. Pure: unit-tested without a desktop.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xdesk::wayland {

// A toplevel window as the compositor lists it. Handles carry no process id.
struct Toplevel {
    std::string title;
    std::string appId;
};

// What is known of the application whose window is wanted: the titles of its windows (its
// frames on the accessibility bus), and the names it may go by as an app id (its toolkit's
// program name, its executable's name).
struct WantedWindow {
    std::vector<std::string> titles;
    std::vector<std::string> appIds;
};

enum class MatchKind { one, none, ambiguous };
struct Match {
    MatchKind kind = MatchKind::none;
    std::size_t index = 0; // into the toplevels, for MatchKind::one
};

// Which toplevel is a window of `wanted`. Titles are tried in order; for each, the toplevels
// with exactly that title are the candidates, narrowed to those whose app id is one of
// `wanted.appIds` when any is. One candidate left: that one. Two or more: nothing can tell them
// apart, so that title is given up (ambiguous) and the next one is tried.
[[nodiscard]] Match matchToplevel(const std::vector<Toplevel>& toplevels,
                                  const WantedWindow& wanted);

// A window (frame) of an application on the accessibility bus: the application's bus name and
// the frame's object path.
struct Frame {
    std::string application;
    std::string path;
    bool operator==(const Frame& other) const {
        return application == other.application && path == other.path;
    }
};

// How long the accessibility bus may show no active frame between one window's deactivation and
// another window's activation for the two to count as one switch within an application. An
// application switching between two of its own windows sends both at once (1 ms apart at most,
// measured with GTK 3 on sway and mutter); a user who goes to a window that is not on the bus and
// comes back takes far longer.
inline constexpr int64_t switchGraceNanos = 50'000'000;

// The application activations that window:activate and window:deactivate make. The frames that
// say they are active are kept (the old window's deactivation may come before or after the new
// one's activation). A frame of another process than the last one announced is an activation.
// A frame of that same process is a window switch, unless no frame was active before it and
// either it is the very frame that was deactivated last (its window lost the focus to one that is
// not on the bus, or to none, and has it back) or none was active for switchGraceNanos or more:
// then no known application was in front meanwhile, and the return is announced again.
struct FrameActivations {
    std::vector<std::pair<Frame, pid_t>> active;
    std::optional<pid_t> announced;
    std::optional<int64_t> noneActiveSince; // monotonic nanoseconds
    std::optional<Frame> lastDeactivated;

    // The frame active when the watch starts: its application counts as activated already.
    void start(const Frame& frame, pid_t pid);
    // A frame's window:activate; the process to announce, if this is an application activation.
    [[nodiscard]] std::optional<pid_t> activated(const Frame& frame, pid_t pid, int64_t nowNanos);
    // A frame's window:deactivate.
    void deactivated(const Frame& frame, int64_t nowNanos);
    // An application that left the bus: its frames are no longer active, as if deactivated (an
    // application that ends or crashes with a window in front sends no deactivation).
    void applicationLeft(const std::string& application, int64_t nowNanos);
};

} // namespace xdesk::wayland
