#include "x11.h"

#include "application_identity.h"

#include <xdesk/desktop.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <memory>
#include <vector>

#include <unistd.h>

namespace xdesk::x11 {

namespace {

struct Connection {
    Display* display = nullptr;
    bool lost = false;
    bool xtest = false;
};

unsigned long errorCount = 0;

// Xlib's default handlers print and exit. A request on a window that has gone meanwhile fails
// with BadWindow, which the caller sees in the request's status (or in errorsSeen); nothing else
// needs the error.
int countError(Display*, XErrorEvent*) {
    ++errorCount;
    return 0;
}

int ignoreIoError(Display*) {
    return 0;
}

// Called instead of exit() when a connection is lost: later requests fail, the tool goes on.
void connectionLost(Display*, void* lost) {
    *static_cast<bool*>(lost) = true;
}

Display* openDisplay(bool* lost) {
    static const bool quiet = [] {
        XSetErrorHandler(&countError);
        XSetIOErrorHandler(&ignoreIoError);
        return true;
    }();
    static_cast<void>(quiet);
    Display* opened = XOpenDisplay(nullptr);
    if (opened != nullptr) {
        XSetIOErrorExitHandler(opened, &connectionLost, lost);
    }
    return opened;
}

Connection& connection() {
    static Connection state;
    static const bool opened = [] {
        state.display = openDisplay(&state.lost);
        if (state.display != nullptr) {
            int event = 0;
            int error = 0;
            int major = 0;
            int minor = 0;
            state.xtest = XTestQueryExtension(state.display, &event, &error, &major, &minor);
        }
        return true;
    }();
    static_cast<void>(opened);
    return state;
}

Display* display() {
    Connection& state = connection();
    return state.lost ? nullptr : state.display;
}

struct XFreeDeleter {
    void operator()(unsigned char* data) const { XFree(data); }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    std::unique_ptr<unsigned char, XFreeDeleter> data;
};

// A whole property of `window` (up to 64 KiB of 32-bit items); nothing when it is absent or the
// window has gone.
std::optional<Property> readProperty(Display* x, Window window, const char* name, Atom type) {
    const Atom atom = XInternAtom(x, name, True);
    if (atom == None) {
        return std::nullopt;
    }
    Property property;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(x, window, atom, 0, 16384, False, type, &property.type,
                                          &property.format, &property.items, &after, &data);
    property.data.reset(data);
    if (status != Success || property.type == None) {
        return std::nullopt;
    }
    return property;
}

// The 32-bit items of a property (Xlib hands them out as longs).
std::vector<unsigned long> longItems(const Property& property) {
    std::vector<unsigned long> out;
    if (property.format != 32 || property.data == nullptr) {
        return out;
    }
    const auto* items = reinterpret_cast<const unsigned long*>(property.data.get());
    out.assign(items, items + property.items);
    return out;
}

// The bytes of a text property (STRING, UTF8_STRING or any other 8-bit type).
std::optional<std::string> textProperty(Display* x, Window window, const char* name) {
    const std::optional<Property> property = readProperty(x, window, name, AnyPropertyType);
    if (!property || property->format != 8 || property->data == nullptr) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(property->data.get()), property->items);
}

// The window that the root's _NET_ACTIVE_WINDOW names; None when it names none or is absent.
Window activeWindowOf(Display* x) {
    const std::optional<Property> property =
        readProperty(x, DefaultRootWindow(x), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (!property) {
        return None;
    }
    const std::vector<unsigned long> items = longItems(*property);
    return items.empty() ? None : items[0];
}

std::optional<pid_t> windowPid(Display* x, Window window) {
    const std::optional<Property> property = readProperty(x, window, "_NET_WM_PID", XA_CARDINAL);
    if (!property) {
        return std::nullopt;
    }
    const std::vector<unsigned long> items = longItems(*property);
    if (items.size() != 1 || items[0] == 0 || items[0] > 0x7fffffffUL) {
        return std::nullopt;
    }
    return static_cast<pid_t>(items[0]);
}

unsigned long keysymOf(Modifier modifier) {
    switch (modifier) {
    case Modifier::control:
        return XK_Control_L;
    case Modifier::shift:
        return XK_Shift_L;
    case Modifier::alt:
        return XK_Alt_L;
    }
    return NoSymbol;
}

// The modifier mask bit that `keycode` sets, from the current modifier mapping; 0 when none.
unsigned modifierMaskOf(Display* x, KeyCode keycode) {
    XModifierKeymap* map = XGetModifierMapping(x);
    if (map == nullptr) {
        return 0;
    }
    unsigned mask = 0;
    for (int row = 0; row < 8 && mask == 0; ++row) {
        for (int column = 0; column < map->max_keypermod; ++column) {
            if (map->modifiermap[row * map->max_keypermod + column] == keycode) {
                mask = 1u << row;
                break;
            }
        }
    }
    XFreeModifiermap(map);
    return mask;
}

} // namespace

std::optional<std::string> rootTextProperty(const char* name) {
    Display* x = display();
    if (x == nullptr) {
        return std::nullopt;
    }
    return textProperty(x, DefaultRootWindow(x), name);
}

ActiveWindow activeWindow() {
    ActiveWindow active;
    Display* x = display();
    if (x == nullptr) {
        return active;
    }
    const std::optional<Property> property =
        readProperty(x, DefaultRootWindow(x), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (!property) {
        return active;
    }
    active.managed = true;
    const std::vector<unsigned long> items = longItems(*property);
    if (items.empty() || items[0] == None) {
        return active;
    }
    active.pid = windowPid(x, items[0]);
    active.windowWithoutPid = !active.pid;
    return active;
}

bool requestActivation(pid_t pid) {
    Display* x = display();
    if (x == nullptr) {
        return false;
    }
    const Window root = DefaultRootWindow(x);
    // Bottom to top; the plain list is in mapping order, which is as good a guess without it.
    std::optional<Property> clients = readProperty(x, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    if (!clients) {
        clients = readProperty(x, root, "_NET_CLIENT_LIST", XA_WINDOW);
    }
    if (!clients) {
        return false;
    }
    const std::vector<unsigned long> windows = longItems(*clients);
    Window target = None;
    for (auto it = windows.rbegin(); it != windows.rend() && target == None; ++it) {
        if (windowPid(x, *it) == pid) {
            target = *it;
        }
    }
    if (target == None) {
        return false;
    }
    Window current = None;
    if (std::optional<Property> active = readProperty(x, root, "_NET_ACTIVE_WINDOW", XA_WINDOW)) {
        const std::vector<unsigned long> items = longItems(*active);
        current = items.empty() ? None : items[0];
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.send_event = True;
    event.xclient.display = x;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // source: a pager, i.e. on the user's behalf
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = static_cast<long>(current);
    const Status sent =
        XSendEvent(x, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(x);
    return sent != 0 && display() != nullptr;
}

std::optional<unsigned> keycodeForKeysym(unsigned long keysym) {
    Display* x = display();
    if (x == nullptr || !connection().xtest) {
        return std::nullopt;
    }
    const KeyCode keycode = XKeysymToKeycode(x, keysym);
    if (keycode == 0) {
        return std::nullopt;
    }
    return keycode;
}

std::optional<NeededModifier> modifierState(Modifier modifier) {
    Display* x = display();
    const std::optional<unsigned> keycode = keycodeForKeysym(keysymOf(modifier));
    if (x == nullptr || !keycode) {
        return std::nullopt;
    }
    XkbStateRec state{};
    const unsigned mask = modifierMaskOf(x, static_cast<KeyCode>(*keycode));
    const bool inEffect =
        mask != 0 && XkbGetState(x, XkbUseCoreKbd, &state) == Success && (state.mods & mask) != 0;
    return NeededModifier{*keycode, mask, inEffect};
}

std::vector<HeldModifierKey> heldModifierKeys() {
    std::vector<HeldModifierKey> held;
    Display* x = display();
    if (x == nullptr) {
        return held;
    }
    char keys[32] = {};
    XQueryKeymap(x, keys);
    for (unsigned keycode = 8; keycode < 256; ++keycode) {
        const auto byte = static_cast<unsigned char>(keys[keycode / 8]);
        if ((byte & (1u << (keycode % 8))) == 0) {
            continue;
        }
        const KeySym unshifted = XkbKeycodeToKeysym(x, static_cast<KeyCode>(keycode), 0, 0);
        if (holdsModifier(unshifted)) {
            held.push_back({keycode, modifierMaskOf(x, static_cast<KeyCode>(keycode))});
        }
    }
    return held;
}

void fakeKeys(const std::vector<KeyAction>& actions) {
    Display* x = display();
    if (x == nullptr || !connection().xtest) {
        return;
    }
    for (const KeyAction& action : actions) {
        XTestFakeKeyEvent(x, action.keycode, action.press ? True : False, CurrentTime);
    }
    XSync(x, False);
}

Display* openWatchConnection(bool* lost) {
    return openDisplay(lost);
}

unsigned long errorsSeen() {
    return errorCount;
}

} // namespace xdesk::x11

namespace xdesk {

namespace {

// The activation watch: its own connection, on which the root window's property changes arrive.
struct ActivationWatch {
    Display* display = nullptr;
    bool lost = false;
    Atom activeWindowAtom = None;
    std::optional<pid_t> current; // the application last activated
};

ActivationWatch& activationWatch() {
    static ActivationWatch watch;
    return watch;
}

// Where /proc/PID/exe leads; nothing when the process has gone or is not ours to look at.
std::optional<std::string> executablePath(pid_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(4096, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// Reads the active window afresh and, when it makes an activation, what it says of its
// application. A window that has gone by now reads as one without a pid.
std::optional<RunningApplication> readActivation(ActivationWatch& watch) {
    Display* x = watch.display;
    const Window window = x11::activeWindowOf(x);
    const std::optional<pid_t> pid = window == None ? std::nullopt : x11::windowPid(x, window);
    if (!isActivation(watch.current, pid)) {
        return std::nullopt;
    }
    WindowFacts facts;
    facts.pid = *pid;
    facts.wmClass = x11::textProperty(x, window, "WM_CLASS");
    facts.gtkApplicationId = x11::textProperty(x, window, "_GTK_APPLICATION_ID");
    facts.executablePath = executablePath(*pid);
    return applicationFor(facts);
}

} // namespace

std::optional<int> watchActivations() {
    ActivationWatch& watch = activationWatch();
    if (watch.display != nullptr) {
        return std::nullopt;
    }
    watch.display = x11::openWatchConnection(&watch.lost);
    if (watch.display == nullptr) {
        return std::nullopt;
    }
    Display* x = watch.display;
    watch.activeWindowAtom = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
    XSelectInput(x, DefaultRootWindow(x), PropertyChangeMask);
    // Selected first and read afterwards: a change in between is then both in this reading and
    // announced, and reads the same twice.
    const Window window = x11::activeWindowOf(x);
    if (window != None) {
        watch.current = x11::windowPid(x, window);
    }
    if (watch.lost) {
        return std::nullopt;
    }
    return ConnectionNumber(x);
}

Activations takeActivations() {
    ActivationWatch& watch = activationWatch();
    Activations out;
    if (watch.display == nullptr) {
        out.ended = true;
        return out;
    }
    while (!watch.lost && XPending(watch.display) > 0) {
        XEvent event;
        XNextEvent(watch.display, &event);
        if (event.type != PropertyNotify || event.xproperty.atom != watch.activeWindowAtom) {
            continue;
        }
        if (std::optional<RunningApplication> activated = readActivation(watch)) {
            out.activated.push_back(std::move(*activated));
        }
    }
    out.ended = watch.lost;
    return out;
}

std::optional<pid_t> frontmostApplicationPid() {
    const x11::ActiveWindow active = x11::activeWindow();
    if (active.windowWithoutPid) {
        return -1; // an application without a pid, as NSRunningApplication reports one
    }
    return active.pid;
}

} // namespace xdesk
