#include "wayland_session.h"

#include "accessible.h"
#include "application_identity.h"
#include "atspi_calls.h"
#include "focus.h"
#include "session.h"
#include "wayland.h"
#include "wayland_rules.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace xdesk::wayland {

namespace {

struct ActiveFrame {
    pid_t pid = 0;
    Accessible frame;
    States states;
};

// The frames with the ACTIVE state, with their processes, read from the applications: no
// application tells a client that does not listen for its events (a tool run once) that a frame
// has lost the state.
std::vector<ActiveFrame> activeFrames() {
    std::vector<ActiveFrame> found;
    std::vector<Accessible> all;
    if (!accessibilityReady() || applications(std::nullopt, &all) != kAXErrorSuccess) {
        return found;
    }
    for (const Accessible& application : all) {
        std::vector<Accessible> frames;
        if (childrenOf(application, &frames) != kAXErrorSuccess) {
            continue;
        }
        for (Accessible& frame : frames) {
            States states;
            pid_t pid = 0;
            if (statesOf(frame, &states) == kAXErrorSuccess &&
                hasState(states, ATSPI_STATE_ACTIVE) &&
                pidOf(application, &pid) == kAXErrorSuccess) {
                found.push_back({pid, std::move(frame), states});
            }
        }
    }
    return found;
}

// The one process that the active frames belong to; nothing for none, or for two.
std::optional<pid_t> frontPid(const std::vector<ActiveFrame>& active) {
    std::optional<pid_t> front;
    for (const ActiveFrame& frame : active) {
        if (front && *front != frame.pid) {
            return std::nullopt; // two applications say they are in front
        }
        front = frame.pid;
    }
    return front;
}

int64_t nowNanos() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}

} // namespace

std::optional<pid_t> frontmostApplicationPid() {
    return frontPid(activeFrames());
}

std::vector<std::pair<Accessible, States>> frontFrames() {
    std::vector<ActiveFrame> active = activeFrames();
    std::vector<std::pair<Accessible, States>> frames;
    if (frontPid(active)) {
        for (ActiveFrame& frame : active) {
            frames.emplace_back(std::move(frame.frame), frame.states);
        }
    }
    return frames;
}

bool requestActivation(pid_t pid) {
    std::vector<Accessible> owned;
    if (!accessibilityReady() || applications(pid, &owned) != kAXErrorSuccess) {
        return false;
    }
    WantedWindow wanted;
    for (const Accessible& application : owned) {
        if (std::string name; getName(application, &name) == kAXErrorSuccess && !name.empty()) {
            wanted.appIds.push_back(std::move(name));
        }
        std::vector<Accessible> frames;
        if (childrenOf(application, &frames) != kAXErrorSuccess) {
            continue;
        }
        for (const Accessible& frame : frames) {
            if (std::string title; getName(frame, &title) == kAXErrorSuccess) {
                wanted.titles.push_back(std::move(title));
            }
        }
    }
    if (wanted.titles.empty()) {
        return false;
    }
    if (const std::optional<std::string> path = executablePath(pid)) {
        if (std::optional<std::string> executable =
                applicationFor(BusApplicationFacts{pid, std::nullopt, path}).executableName) {
            wanted.appIds.push_back(std::move(*executable));
        }
    }
    return activateWindow(wanted) == ActivationOutcome::requested;
}

// ---- The activation watch --------------------------------------------------------------------

namespace {

// An application that has just joined the bus, whose frames are looked at a few times: a
// toolkit's bridge sends only the events it has learnt that someone listens for, and it learns
// that only after joining, so a window that takes the focus at once may never say so.
struct Newcomer {
    std::string bus;
    int64_t dueNanos = 0;
    std::size_t checksDone = 0;
};

// After joining: long enough for a window to be mapped and focused, short enough that a late
// line is still the news of the moment.
constexpr int64_t newcomerChecksNanos[] = {200'000'000, 600'000'000, 1'500'000'000};

struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// The watch: the session's connection to the accessibility bus, on which the applications' window
// events and the registry's news of applications joining arrive, and a timer for the looks at
// newcomers; the run loop waits on both through one epoll descriptor.
struct ActivationWatch {
    bool started = false;
    Descriptor timer;
    Descriptor waited;
    FrameActivations frames;
    std::map<std::string, RunningApplication> applications; // by bus name
    std::vector<Newcomer> newcomers;
};

ActivationWatch& activationWatch() {
    static ActivationWatch watch;
    return watch;
}

// The frames of the application at `bus` that have the ACTIVE state, read from the application.
std::vector<std::string> activeFramePaths(const std::string& bus) {
    std::vector<std::string> paths;
    std::vector<Accessible> frames;
    if (childrenOf(applicationRoot(bus), &frames) != kAXErrorSuccess) {
        return paths;
    }
    for (Accessible& frame : frames) {
        States states;
        if (statesOf(frame, &states) == kAXErrorSuccess && hasState(states, ATSPI_STATE_ACTIVE)) {
            paths.push_back(std::move(frame.path));
        }
    }
    return paths;
}

// Sets the timer to the first newcomer's look, or stops it.
void armTimer(ActivationWatch& watch) {
    itimerspec when{};
    if (!watch.newcomers.empty()) {
        int64_t due = watch.newcomers.front().dueNanos;
        for (const Newcomer& newcomer : watch.newcomers) {
            due = std::min(due, newcomer.dueNanos);
        }
        constexpr int64_t nanosPerSecond = 1'000'000'000;
        due = std::max<int64_t>(due, 1); // zero would stop the timer
        when.it_value.tv_sec = static_cast<time_t>(due / nanosPerSecond);
        when.it_value.tv_nsec = static_cast<long>(due % nanosPerSecond);
    }
    timerfd_settime(watch.timer.fd, TFD_TIMER_ABSTIME, &when, nullptr);
}

// The application at `bus`, as the bus and its process say, read once per application; nothing
// when it has gone already.
const RunningApplication* applicationOf(ActivationWatch& watch, const std::string& bus) {
    auto known = watch.applications.find(bus);
    if (known == watch.applications.end()) {
        BusApplicationFacts facts;
        if (pidOf(applicationRoot(bus), &facts.pid) != kAXErrorSuccess) {
            return nullptr;
        }
        if (std::string name; getName(applicationRoot(bus), &name) == kAXErrorSuccess) {
            facts.rootName = std::move(name);
        }
        facts.executablePath = executablePath(facts.pid);
        known = watch.applications.emplace(bus, applicationFor(facts)).first;
    }
    return &known->second;
}

void activated(ActivationWatch& watch, const Frame& frame, Activations& out) {
    const RunningApplication* application = applicationOf(watch, frame.application);
    if (application != nullptr &&
        watch.frames.activated(frame, application->processIdentifier, nowNanos())) {
        out.activated.push_back(*application);
    }
}

void takeEvent(ActivationWatch& watch, Event& event, Activations& out) {
    Frame frame{std::move(event.source.bus), std::move(event.source.path)};
    switch (event.kind) {
    case EventKind::applicationJoined:
        watch.newcomers.push_back(
            {std::move(frame.application), nowNanos() + newcomerChecksNanos[0], 0});
        break;
    case EventKind::applicationLeft:
        watch.frames.applicationLeft(frame.application, nowNanos());
        watch.newcomers.erase(std::remove_if(watch.newcomers.begin(), watch.newcomers.end(),
                                             [&](const Newcomer& newcomer) {
                                                 return newcomer.bus == frame.application;
                                             }),
                              watch.newcomers.end());
        watch.applications.erase(frame.application);
        forgetApplication(frame.application);
        break;
    case EventKind::windowDeactivated:
        watch.frames.deactivated(frame, nowNanos());
        break;
    case EventKind::windowActivated:
        activated(watch, frame, out);
        break;
    }
}

// The events that have arrived, in order, until none is left: a call made for one of them keeps
// the events that arrive before its answer in the connection's queue, where the descriptor no
// longer shows them.
void takeEventsInto(ActivationWatch& watch, Activations& out) {
    for (std::vector<Event> events = takeEvents(); !events.empty(); events = takeEvents()) {
        for (Event& event : events) {
            takeEvent(watch, event, out);
        }
    }
}

// The looks at newcomers that are due.
void lookAtNewcomers(ActivationWatch& watch, Activations& out) {
    uint64_t expirations = 0;
    static_cast<void>(read(watch.timer.fd, &expirations, sizeof expirations));
    const int64_t now = nowNanos();
    std::vector<Newcomer> waiting;
    for (Newcomer& newcomer : watch.newcomers) {
        if (newcomer.dueNanos > now) {
            waiting.push_back(std::move(newcomer));
            continue;
        }
        for (std::string& path : activeFramePaths(newcomer.bus)) {
            activated(watch, {newcomer.bus, std::move(path)}, out);
        }
        if (++newcomer.checksDone < std::size(newcomerChecksNanos)) {
            newcomer.dueNanos += newcomerChecksNanos[newcomer.checksDone] -
                                 newcomerChecksNanos[newcomer.checksDone - 1];
            waiting.push_back(std::move(newcomer));
        }
    }
    watch.newcomers = std::move(waiting);
}

} // namespace

std::optional<int> watchActivations() {
    ActivationWatch& watch = activationWatch();
    int descriptor = -1;
    if (watch.started || !accessibilityReady() ||
        !dbus_connection_get_unix_fd(accessibilityBus(), &descriptor) ||
        listenForWindowEvents() != kAXErrorSuccess) {
        return std::nullopt;
    }
    watch.timer.fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    watch.waited.fd = epoll_create1(EPOLL_CLOEXEC);
    epoll_event readable{};
    readable.events = EPOLLIN;
    if (watch.timer.fd < 0 || watch.waited.fd < 0 ||
        epoll_ctl(watch.waited.fd, EPOLL_CTL_ADD, descriptor, &readable) != 0 ||
        epoll_ctl(watch.waited.fd, EPOLL_CTL_ADD, watch.timer.fd, &readable) != 0) {
        return std::nullopt;
    }
    watch.started = true;
    // Events asked for first and the front read afterwards: a switch in between is both in this
    // reading and announced, and a frame activated twice is one activation.
    const std::vector<ActiveFrame> front = activeFrames();
    if (front.size() == 1) {
        watch.frames.start({front.front().frame.bus, front.front().frame.path}, front.front().pid);
    }
    return watch.waited.fd;
}

Activations takeActivations() {
    ActivationWatch& watch = activationWatch();
    Activations out;
    DBusConnection* bus = accessibilityBus();
    if (!watch.started || bus == nullptr) {
        out.ended = true;
        return out;
    }
    // The events that came before the looks at newcomers, then those that came during them.
    takeEventsInto(watch, out);
    lookAtNewcomers(watch, out);
    takeEventsInto(watch, out);
    armTimer(watch);
    out.ended = !dbus_connection_get_is_connected(bus);
    return out;
}

} // namespace xdesk::wayland
