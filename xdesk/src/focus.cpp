#include "focus.h"

#include "focus_walk.h"
#include "session.h"
#include "session_type.h"
#include "wayland_session.h"
#include "x11.h"

#include <chrono>
#include <thread>

namespace xdesk {

namespace {

// The walk's bounds: enough for the windows of the Qt applications tried (a few hundred showing
// accessibles), and a bounded time however large or slow the tree.
constexpr int walkCalls = 600;
constexpr std::chrono::milliseconds walkTime{250};

// The deepest focused accessible below `top` (not `top` itself), walked.
std::optional<Accessible> walkBelow(const Accessible& top) {
    const auto deadline = std::chrono::steady_clock::now() + walkTime;
    WalkBudget budget{walkCalls,
                      [deadline] { return std::chrono::steady_clock::now() >= deadline; }};
    return deepestFocused<Accessible>(
        top, budget,
        [](const Accessible& node) -> std::optional<WalkStates> {
            States states;
            if (statesOf(node, &states) != kAXErrorSuccess) {
                return std::nullopt;
            }
            return WalkStates{hasState(states, ATSPI_STATE_FOCUSED),
                              hasState(states, ATSPI_STATE_SHOWING)};
        },
        [](const Accessible& node) -> std::optional<std::vector<Accessible>> {
            std::vector<Accessible> children;
            if (childrenOf(node, &children) != kAXErrorSuccess) {
                return std::nullopt;
            }
            return children;
        });
}

// The focused accessible under `window`. With the Collection interface one query, which the
// application runs in its own process, names every focused accessible in canonical order, the
// deepest of the chain last; a toolkit that does not search inside containers that manage their
// descendants (LibreOffice's document) leaves the rest of the chain to a walk below that one.
AXError focusUnder(const Accessible& window, Accessible* focused) {
    bool collection = false;
    if (const AXError failed = offers(window, Interface::collection, &collection);
        failed != kAXErrorSuccess) {
        return failed;
    }
    Accessible deepest = window;
    bool found = false;
    if (collection) {
        States wanted;
        wanted.set(ATSPI_STATE_FOCUSED);
        wanted.set(ATSPI_STATE_SHOWING);
        std::vector<Accessible> matches;
        if (const AXError failed = getMatchesWithStates(window, wanted, &matches);
            failed != kAXErrorSuccess) {
            return failed;
        }
        if (!matches.empty()) {
            deepest = matches.back();
            found = true;
            bool text = false;
            if (offers(deepest, Interface::text, &text) == kAXErrorSuccess && text) {
                *focused = std::move(deepest);
                return kAXErrorSuccess;
            }
        }
    }
    if (std::optional<Accessible> below = walkBelow(deepest)) {
        *focused = std::move(*below);
        return kAXErrorSuccess;
    }
    if (!found) {
        return kAXErrorNoValue;
    }
    *focused = std::move(deepest);
    return kAXErrorSuccess;
}

// The focused accessible in an active window with `states`: below it, or the window itself when
// it has the focus.
AXError focusInWindow(const Accessible& window, const States& states, Accessible* focused) {
    const AXError found = focusUnder(window, focused);
    if (found == kAXErrorSuccess) {
        return found;
    }
    if (hasState(states, ATSPI_STATE_FOCUSED)) {
        *focused = window;
        return kAXErrorSuccess;
    }
    return found;
}

// The focused accessible in the active window of one of `candidates`. The active window is
// looked for first: toolkits report the focus only there, and a search through inactive
// windows would be wasted.
AXError focusIn(const std::vector<Accessible>& candidates, Accessible* focused) {
    AXError outcome = kAXErrorNoValue;
    for (const Accessible& application : candidates) {
        std::vector<Accessible> windows;
        if (const AXError failed = childrenOf(application, &windows); failed != kAXErrorSuccess) {
            outcome = failed;
            continue;
        }
        for (const Accessible& window : windows) {
            States states;
            if (const AXError failed = statesOf(window, &states); failed != kAXErrorSuccess) {
                outcome = failed;
                continue;
            }
            if (!hasState(states, ATSPI_STATE_ACTIVE)) {
                continue;
            }
            const AXError found = focusInWindow(window, states, focused);
            if (found == kAXErrorSuccess) {
                return found;
            }
            if (found != kAXErrorNoValue) {
                outcome = found;
            }
        }
    }
    return outcome;
}

} // namespace

AXError applications(std::optional<pid_t> pid, std::vector<Accessible>* found) {
    std::vector<Accessible> all;
    if (const AXError failed = childrenOf(desktopRoot(), &all); failed != kAXErrorSuccess) {
        return failed;
    }
    for (Accessible& application : all) {
        pid_t owner = 0;
        if (!pid || (pidOf(application, &owner) == kAXErrorSuccess && owner == *pid)) {
            found->push_back(std::move(application));
        }
    }
    return kAXErrorSuccess;
}

AXError copyFocusIn(const std::vector<Accessible>& candidates, CFTypeRef* value) {
    Accessible focused;
    if (const AXError failed = focusIn(candidates, &focused); failed != kAXErrorSuccess) {
        return failed;
    }
    *value = newElement(std::move(focused));
    return kAXErrorSuccess;
}

namespace {

// The focused accessible in the ACTIVE frames of the application in front of a Wayland session,
// found while telling which application that is.
AXError waylandFocus(Accessible* focused) {
    AXError outcome = kAXErrorNoValue;
    for (const auto& [frame, states] : wayland::frontFrames()) {
        const AXError found = focusInWindow(frame, states, focused);
        if (found == kAXErrorSuccess) {
            return found;
        }
        if (found != kAXErrorNoValue) {
            outcome = found;
        }
    }
    return outcome;
}

// The focused accessible of the desktop: in the application of the window that the window
// manager says is active (in a Wayland session, the application whose frame the accessibility bus
// shows ACTIVE), or without a window manager that says so in every application. `onBus` (when
// given) tells whether there was anything on the bus to search: false when the window manager's
// active window belongs to a process with no application there.
AXError systemWideFocus(Accessible* focused, bool* onBus = nullptr) {
    if (onBus != nullptr) {
        *onBus = true;
    }
    if (sessionType() == SessionType::wayland) {
        return waylandFocus(focused);
    }
    const x11::ActiveWindow active = x11::activeWindow();
    if (active.managed && !active.pid) {
        return kAXErrorNoValue; // no active window, or one that no process owns
    }
    std::vector<Accessible> candidates;
    if (const AXError failed = applications(active.pid, &candidates); failed != kAXErrorSuccess) {
        return failed;
    }
    if (onBus != nullptr) {
        *onBus = !candidates.empty();
    }
    return focusIn(candidates, focused);
}

// How long a search for the focus that fails is tried again before a keystroke is posted, and
// the pause between two tries. Right after an activation the window manager may name the new
// window before its application has marked the frame ACTIVE and given a widget the focus on the
// bus, and an accessible can go away while the tree is read: a passing miss would post Control+V
// into a terminal. An application with nothing on the bus (xterm) is not waited for.
constexpr std::chrono::milliseconds terminalSearchTime{200};
constexpr std::chrono::milliseconds terminalSearchPause{10};

} // namespace

AXError copySystemWideFocus(CFTypeRef* value) {
    Accessible focused;
    if (const AXError failed = systemWideFocus(&focused); failed != kAXErrorSuccess) {
        return failed;
    }
    *value = newElement(std::move(focused));
    return kAXErrorSuccess;
}

bool focusIsTerminal() {
    if (!accessibilityReady()) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + terminalSearchTime;
    Accessible focused;
    bool onBus = true;
    while (systemWideFocus(&focused, &onBus) != kAXErrorSuccess) {
        if (!onBus || std::chrono::steady_clock::now() + terminalSearchPause > deadline) {
            return false;
        }
        std::this_thread::sleep_for(terminalSearchPause);
    }
    uint32_t role = ATSPI_ROLE_INVALID;
    return getRole(focused, &role) == kAXErrorSuccess && role == ATSPI_ROLE_TERMINAL;
}

} // namespace xdesk
