#include "wayland_session.h"

#include "accessible.h"
#include "focus.h"
#include "session.h"
#include "wayland.h"
#include "wayland_rules.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace xdesk::wayland {

namespace {

std::optional<std::string> busNameOf(AtspiAccessible* accessible) {
    const AtspiObject* object = ATSPI_OBJECT(accessible);
    if (object->app == nullptr || object->app->bus_name == nullptr) {
        return std::nullopt;
    }
    return std::string(object->app->bus_name);
}

std::optional<std::string> nameOf(AtspiAccessible* accessible) {
    GText name;
    if (callApplication(accessible,
                        [&](GError** error) {
                            name.reset(atspi_accessible_get_name(accessible, error));
                        }) != kAXErrorSuccess ||
        name == nullptr) {
        return std::nullopt;
    }
    return std::string(name.get());
}

std::vector<AccessiblePtr> childrenOf(AtspiAccessible* accessible) {
    std::vector<AccessiblePtr> children;
    static_cast<void>(xdesk::childrenOf(accessible, &children));
    return children;
}

// The applications on the bus with their windows read afresh: libatspi keeps what it has read
// and updates it only from events, which a tool without a GLib main loop never takes in, so the
// ACTIVE state that it remembers may be long gone.
std::vector<AccessiblePtr> applications() {
    const AccessiblePtr desktop(atspi_get_desktop(0));
    if (desktop != nullptr) {
        atspi_accessible_clear_cache(desktop.get());
    }
    std::vector<AccessiblePtr> found;
    static_cast<void>(xdesk::applications(std::nullopt, &found));
    return found;
}

struct ActiveFrame {
    pid_t pid = 0;
    Frame frame;
};

// The frames with the ACTIVE state, with their processes.
std::vector<ActiveFrame> activeFrames() {
    std::vector<ActiveFrame> found;
    if (!accessibilityReady()) {
        return found;
    }
    for (const AccessiblePtr& application : applications()) {
        for (const AccessiblePtr& frame : childrenOf(application.get())) {
            StateSetPtr states;
            if (statesOf(frame.get(), &states) != kAXErrorSuccess ||
                !hasState(states, ATSPI_STATE_ACTIVE)) {
                continue;
            }
            pid_t pid = 0;
            const std::optional<std::string> busName = busNameOf(frame.get());
            const char* path = ATSPI_OBJECT(frame.get())->path;
            if (pidOf(application.get(), &pid) == kAXErrorSuccess && busName && path != nullptr) {
                found.push_back({pid, {*busName, path}});
            }
        }
    }
    return found;
}

// Where /proc/PID/exe leads, without the " (deleted)" that Linux adds once the file has been
// replaced; nothing when the process has gone or is not ours to look at.
std::optional<std::string> executableName(pid_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(4096, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    constexpr std::string_view deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0) {
        target.resize(target.size() - deleted.size());
    }
    const std::size_t slash = target.rfind('/');
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        return std::nullopt;
    }
    return name;
}

int64_t nowNanos() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count();
}

} // namespace

std::optional<pid_t> frontmostApplicationPid() {
    std::optional<pid_t> front;
    for (const ActiveFrame& active : activeFrames()) {
        if (front && *front != active.pid) {
            return std::nullopt; // two applications say they are in front
        }
        front = active.pid;
    }
    return front;
}

x11::ActiveWindow activeWindow() {
    x11::ActiveWindow active;
    active.managed = true;
    active.pid = frontmostApplicationPid();
    return active;
}

bool requestActivation(pid_t pid) {
    if (!accessibilityReady()) {
        return false;
    }
    WantedWindow wanted;
    for (const AccessiblePtr& application : applications()) {
        pid_t owner = 0;
        if (pidOf(application.get(), &owner) != kAXErrorSuccess || owner != pid) {
            continue;
        }
        if (std::optional<std::string> name = nameOf(application.get()); name && !name->empty()) {
            wanted.appIds.push_back(std::move(*name));
        }
        for (const AccessiblePtr& frame : childrenOf(application.get())) {
            if (std::optional<std::string> title = nameOf(frame.get())) {
                wanted.titles.push_back(std::move(*title));
            }
        }
    }
    if (wanted.titles.empty()) {
        return false;
    }
    if (std::optional<std::string> executable = executableName(pid)) {
        wanted.appIds.push_back(std::move(*executable));
    }
    return activateWindow(wanted) == ActivationOutcome::requested;
}

// ---- The activation watch --------------------------------------------------------------------

namespace {

constexpr int watchCallTimeoutMillis = 1000;
constexpr const char* windowEvents = "org.a11y.atspi.Event.Window";

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using ConnectionPtr = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

struct Application {
    pid_t pid = 0;
    std::optional<std::string> name; // the accessible name of the application's root
};

// An application that has just joined the bus, whose frames are looked at a few times: a
// toolkit's bridge sends only the events it has learnt that someone listens for, and it learns
// that only after joining, so a window that takes the focus at once may never say so.
struct Newcomer {
    std::string busName;
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

// The watch: a connection of its own to the accessibility bus, on which the applications' window
// events and the registry's news of applications joining arrive as signals, and a timer for the
// looks at newcomers; the run loop waits on both through one epoll descriptor.
struct ActivationWatch {
    ConnectionPtr bus;
    Descriptor timer;
    Descriptor waited;
    FrameActivations frames;
    std::map<std::string, Application> applications; // by bus name
    std::vector<Newcomer> newcomers;
};

ActivationWatch& activationWatch() {
    static ActivationWatch watch;
    return watch;
}

MessagePtr call(DBusConnection* bus, MessagePtr message) {
    if (message == nullptr) {
        return nullptr;
    }
    dbus_message_set_auto_start(message.get(), FALSE);
    DBusError error;
    dbus_error_init(&error);
    MessagePtr reply(dbus_connection_send_with_reply_and_block(bus, message.get(),
                                                               watchCallTimeoutMillis, &error));
    dbus_error_free(&error);
    return reply;
}

// Applications send only the events that some client has asked the registry for; the registry
// forgets the request when this connection leaves the bus.
bool registerEvent(DBusConnection* bus, const char* event) {
    MessagePtr message(dbus_message_new_method_call("org.a11y.atspi.Registry",
                                                    "/org/a11y/atspi/registry",
                                                    "org.a11y.atspi.Registry", "RegisterEvent"));
    if (message == nullptr) {
        return false;
    }
    DBusMessageIter arguments;
    DBusMessageIter properties;
    const char* anyApplication = "";
    dbus_message_iter_init_append(message.get(), &arguments);
    const bool built =
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &event) &&
        dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "s", &properties) &&
        dbus_message_iter_close_container(&arguments, &properties) &&
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &anyApplication);
    return built && call(bus, std::move(message)) != nullptr;
}

bool addMatch(DBusConnection* bus, const char* rule) {
    DBusError error;
    dbus_error_init(&error);
    dbus_bus_add_match(bus, rule, &error);
    const bool added = !dbus_error_is_set(&error);
    dbus_error_free(&error);
    return added;
}

std::optional<pid_t> busPid(DBusConnection* bus, const char* busName) {
    MessagePtr message(dbus_message_new_method_call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID"));
    if (message == nullptr ||
        !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &busName, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    MessagePtr reply = call(bus, std::move(message));
    dbus_uint32_t pid = 0;
    if (reply == nullptr ||
        !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID) ||
        pid == 0 || pid > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

// The accessible name of an application's root: the toolkit's name for the program (GTK's
// program name), read once per application.
std::optional<std::string> rootName(DBusConnection* bus, const char* busName) {
    MessagePtr message(dbus_message_new_method_call(busName, "/org/a11y/atspi/accessible/root",
                                                    "org.freedesktop.DBus.Properties", "Get"));
    const char* interface = "org.a11y.atspi.Accessible";
    const char* property = "Name";
    if (message == nullptr ||
        !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                  &property, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    MessagePtr reply = call(bus, std::move(message));
    DBusMessageIter arguments;
    DBusMessageIter variant;
    if (reply == nullptr || !dbus_message_iter_init(reply.get(), &arguments) ||
        dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_VARIANT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&arguments, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING) {
        return std::nullopt;
    }
    const char* name = nullptr;
    dbus_message_iter_get_basic(&variant, &name);
    return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
}

// The frames of the application at `busName` that have the ACTIVE state, read from the
// application itself.
std::vector<std::string> activeFramePaths(DBusConnection* bus, const char* busName) {
    std::vector<std::string> paths;
    MessagePtr reply = call(
        bus, MessagePtr(dbus_message_new_method_call(busName, "/org/a11y/atspi/accessible/root",
                                                     "org.a11y.atspi.Accessible", "GetChildren")));
    DBusMessageIter arguments;
    DBusMessageIter children;
    if (reply == nullptr || !dbus_message_iter_init(reply.get(), &arguments) ||
        dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_ARRAY) {
        return paths;
    }
    std::vector<std::string> frames;
    for (dbus_message_iter_recurse(&arguments, &children);
         dbus_message_iter_get_arg_type(&children) == DBUS_TYPE_STRUCT;
         dbus_message_iter_next(&children)) {
        DBusMessageIter child;
        dbus_message_iter_recurse(&children, &child);
        dbus_message_iter_next(&child); // the bus name: the application's own
        if (dbus_message_iter_get_arg_type(&child) == DBUS_TYPE_OBJECT_PATH) {
            const char* path = nullptr;
            dbus_message_iter_get_basic(&child, &path);
            frames.emplace_back(path);
        }
    }
    for (const std::string& frame : frames) {
        MessagePtr states =
            call(bus, MessagePtr(dbus_message_new_method_call(
                          busName, frame.c_str(), "org.a11y.atspi.Accessible", "GetState")));
        DBusMessageIter words;
        if (states == nullptr || !dbus_message_iter_init(states.get(), &arguments) ||
            dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_ARRAY) {
            continue;
        }
        dbus_message_iter_recurse(&arguments, &words);
        dbus_uint32_t first = 0;
        if (dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32) {
            dbus_message_iter_get_basic(&words, &first);
        }
        if ((first & (1u << ATSPI_STATE_ACTIVE)) != 0) {
            paths.push_back(frame);
        }
    }
    return paths;
}

// The application that the registry announces as joining, from its ChildrenChanged "add" on the
// desktop; nothing for any other signal.
std::optional<std::string> joiningApplication(DBusMessage* message) {
    if (!dbus_message_is_signal(message, "org.a11y.atspi.Event.Object", "ChildrenChanged")) {
        return std::nullopt;
    }
    DBusMessageIter arguments;
    const char* kind = nullptr;
    if (!dbus_message_iter_init(message, &arguments) ||
        dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_STRING) {
        return std::nullopt;
    }
    dbus_message_iter_get_basic(&arguments, &kind);
    if (kind == nullptr || std::string_view(kind).rfind("add", 0) != 0) {
        return std::nullopt;
    }
    for (int skipped = 0; skipped < 3; ++skipped) { // the two integers, to the variant
        if (!dbus_message_iter_next(&arguments)) {
            return std::nullopt;
        }
    }
    DBusMessageIter variant;
    DBusMessageIter reference;
    if (dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_VARIANT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&arguments, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRUCT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&variant, &reference);
    const char* busName = nullptr;
    const char* path = nullptr;
    if (dbus_message_iter_get_arg_type(&reference) != DBUS_TYPE_STRING) {
        return std::nullopt;
    }
    dbus_message_iter_get_basic(&reference, &busName);
    if (!dbus_message_iter_next(&reference) ||
        dbus_message_iter_get_arg_type(&reference) != DBUS_TYPE_OBJECT_PATH) {
        return std::nullopt;
    }
    dbus_message_iter_get_basic(&reference, &path);
    // An application's root joins the desktop; an application's own windows coming and going say
    // the same of other paths.
    if (busName == nullptr || path == nullptr ||
        std::string_view(path) != "/org/a11y/atspi/accessible/root") {
        return std::nullopt;
    }
    return std::string(busName);
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

const Application* applicationOf(ActivationWatch& watch, const char* busName) {
    auto known = watch.applications.find(busName);
    if (known == watch.applications.end()) {
        const std::optional<pid_t> pid = busPid(watch.bus.get(), busName);
        if (!pid) {
            return nullptr; // gone already
        }
        known = watch.applications
                    .emplace(busName, Application{*pid, rootName(watch.bus.get(), busName)})
                    .first;
    }
    return &known->second;
}

// What the application says of itself: its name on the bus for the bundle identifier and the
// name, the executable's name where it gives none.
RunningApplication runningApplication(const Application& application) {
    RunningApplication running;
    running.processIdentifier = application.pid;
    running.executableName = executableName(application.pid);
    const std::optional<std::string> name =
        application.name && !application.name->empty() ? application.name : running.executableName;
    running.bundleIdentifier = name;
    running.localizedName = name;
    return running;
}

} // namespace

std::optional<int> watchActivations() {
    ActivationWatch& watch = activationWatch();
    if (watch.bus != nullptr || !accessibilityReady()) {
        return std::nullopt;
    }
    const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); // the bus that answered
    if (address == nullptr) {
        return std::nullopt;
    }
    DBusError error;
    dbus_error_init(&error);
    ConnectionPtr bus(dbus_connection_open_private(address, &error));
    dbus_error_free(&error);
    if (bus == nullptr) {
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    dbus_error_init(&error);
    const bool registered = dbus_bus_register(bus.get(), &error) != FALSE;
    dbus_error_free(&error);
    if (!registered ||
        !addMatch(bus.get(), "type='signal',interface='org.a11y.atspi.Event.Window',"
                             "member='Activate'") ||
        !addMatch(bus.get(), "type='signal',interface='org.a11y.atspi.Event.Window',"
                             "member='Deactivate'") ||
        !registerEvent(bus.get(), "window:activate") ||
        !registerEvent(bus.get(), "window:deactivate")) {
        return std::nullopt;
    }
    int descriptor = -1;
    if (!addMatch(bus.get(), "type='signal',interface='org.a11y.atspi.Event.Object',"
                             "member='ChildrenChanged',path='/org/a11y/atspi/accessible/root'") ||
        !dbus_connection_get_unix_fd(bus.get(), &descriptor)) {
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
    watch.bus = std::move(bus);
    // Events asked for first and the front read afterwards: a switch in between is both in this
    // reading and announced, and a frame activated twice is one activation.
    const std::vector<ActiveFrame> front = activeFrames();
    if (front.size() == 1) {
        watch.frames.start(front.front().frame, front.front().pid);
    }
    return watch.waited.fd;
}

Activations takeActivations() {
    ActivationWatch& watch = activationWatch();
    Activations out;
    if (watch.bus == nullptr) {
        out.ended = true;
        return out;
    }
    DBusConnection* bus = watch.bus.get();
    // Reads without waiting; a call made for one message may read the next ones into the queue,
    // which is emptied before returning, since the descriptor no longer shows them.
    while (dbus_connection_read_write(bus, 0)) {
        const MessagePtr message(dbus_connection_pop_message(bus));
        if (message == nullptr) {
            break;
        }
        if (std::optional<std::string> joined = joiningApplication(message.get())) {
            watch.newcomers.push_back({std::move(*joined), nowNanos() + newcomerChecksNanos[0], 0});
            continue;
        }
        const bool activate = dbus_message_is_signal(message.get(), windowEvents, "Activate");
        const bool deactivate = dbus_message_is_signal(message.get(), windowEvents, "Deactivate");
        const char* sender = dbus_message_get_sender(message.get());
        const char* path = dbus_message_get_path(message.get());
        if ((!activate && !deactivate) || sender == nullptr || path == nullptr) {
            continue;
        }
        const Frame frame{sender, path};
        if (deactivate) {
            watch.frames.deactivated(frame, nowNanos());
            continue;
        }
        const Application* application = applicationOf(watch, sender);
        if (application == nullptr) {
            continue;
        }
        if (watch.frames.activated(frame, application->pid, nowNanos())) {
            out.activated.push_back(runningApplication(*application));
        }
    }
    uint64_t expirations = 0;
    static_cast<void>(read(watch.timer.fd, &expirations, sizeof expirations));
    const int64_t now = nowNanos();
    std::vector<Newcomer> waiting;
    for (Newcomer& newcomer : watch.newcomers) {
        if (newcomer.dueNanos > now) {
            waiting.push_back(std::move(newcomer));
            continue;
        }
        const Application* application = applicationOf(watch, newcomer.busName.c_str());
        if (application == nullptr) {
            continue; // gone again
        }
        for (const std::string& path : activeFramePaths(bus, newcomer.busName.c_str())) {
            if (watch.frames.activated({newcomer.busName, path}, application->pid, nowNanos())) {
                out.activated.push_back(runningApplication(*application));
            }
        }
        if (++newcomer.checksDone < std::size(newcomerChecksNanos)) {
            newcomer.dueNanos += newcomerChecksNanos[newcomer.checksDone] -
                                 newcomerChecksNanos[newcomer.checksDone - 1];
            waiting.push_back(std::move(newcomer));
        }
    }
    watch.newcomers = std::move(waiting);
    armTimer(watch);
    out.ended = !dbus_connection_get_is_connected(bus);
    return out;
}

} // namespace xdesk::wayland
