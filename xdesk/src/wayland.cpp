#include "wayland.h"

#include "mutter.h"

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace xdesk::wayland {

namespace {

// How long the compositor may take to answer a round trip before it counts as gone: long enough
// for a loaded desktop, short enough that a compositor that never answers cannot stall the tool.
constexpr int roundTripTimeoutMillis = 1000;

// One toplevel of the list, kept up to date by its handle's events.
struct ListedToplevel {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    Toplevel facts;
    bool closed = false;
};

struct KeymapFree {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateFree {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

enum class Keyboard { undecided, virtualKeyboard, mutter, none };

struct Connection {
    wl_display* display = nullptr;
    bool broken = false; // the compositor has gone, refused a request or stopped answering
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_foreign_toplevel_manager_v1* toplevelManager = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager = nullptr;
    std::vector<std::unique_ptr<ListedToplevel>> toplevels;
    uint32_t syncsAnswered = 0;
    uint32_t syncsSent = 0;

    Keyboard keyboard = Keyboard::undecided;
    zwp_virtual_keyboard_v1* virtualKeyboard = nullptr;
    std::unique_ptr<xkb_keymap, KeymapFree> keymap;
    std::unique_ptr<xkb_state, StateFree> keyState;
};

// libwayland reports protocol errors on standard error by default; the tools never write there.
void discardLog(const char*, va_list) {}

void syncAnswered(void* data, wl_callback* callback, uint32_t) {
    ++static_cast<Connection*>(data)->syncsAnswered;
    wl_callback_destroy(callback);
}
const wl_callback_listener syncListener = {&syncAnswered};

bool failed(Connection& c) {
    if (!c.broken && c.display != nullptr && wl_display_get_error(c.display) != 0) {
        c.broken = true;
    }
    return c.display == nullptr || c.broken;
}

int64_t nowMillis() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
}

// Sends what is queued and waits until the compositor has answered everything sent before, every
// event that came meanwhile dispatched. False, and the connection given up, when the compositor
// has gone or does not answer in time: a callback left waiting would otherwise fire into a later
// wait.
bool roundTrip(Connection& c) {
    if (failed(c)) {
        return false;
    }
    wl_callback* callback = wl_display_sync(c.display);
    if (callback == nullptr) {
        c.broken = true;
        return false;
    }
    wl_callback_add_listener(callback, &syncListener, &c);
    const uint32_t wanted = ++c.syncsSent;
    const int64_t deadline = nowMillis() + roundTripTimeoutMillis;
    while (static_cast<int32_t>(c.syncsAnswered - wanted) < 0) {
        if (wl_display_dispatch_pending(c.display) < 0) {
            c.broken = true;
            return false;
        }
        if (static_cast<int32_t>(c.syncsAnswered - wanted) >= 0) {
            break;
        }
        if (wl_display_prepare_read(c.display) != 0) {
            continue; // events arrived meanwhile: dispatch them first
        }
        short events = POLLIN;
        if (wl_display_flush(c.display) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(c.display);
                c.broken = true;
                return false;
            }
            events |= POLLOUT;
        }
        const int64_t left = deadline - nowMillis();
        pollfd descriptor{wl_display_get_fd(c.display), events, 0};
        const int ready = left > 0 ? poll(&descriptor, 1, static_cast<int>(left)) : 0;
        if (ready <= 0 && !(ready < 0 && errno == EINTR)) {
            wl_display_cancel_read(c.display);
            c.broken = true;
            return false;
        }
        if ((descriptor.revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            if (wl_display_read_events(c.display) < 0) {
                c.broken = true;
                return false;
            }
        } else {
            wl_display_cancel_read(c.display);
        }
    }
    return !failed(c);
}

// ---- The toplevel list -----------------------------------------------------------------------

void toplevelTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<ListedToplevel*>(data)->facts.title = title != nullptr ? title : "";
}
void toplevelAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    static_cast<ListedToplevel*>(data)->facts.appId = appId != nullptr ? appId : "";
}
void toplevelOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void toplevelState(void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {}
void toplevelDone(void*, zwlr_foreign_toplevel_handle_v1*) {}
void toplevelClosed(void* data, zwlr_foreign_toplevel_handle_v1*) {
    static_cast<ListedToplevel*>(data)->closed = true;
}
void toplevelParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
const zwlr_foreign_toplevel_handle_v1_listener toplevelListener = {
    &toplevelTitle, &toplevelAppId, &toplevelOutput, &toplevelOutput,
    &toplevelState, &toplevelDone,  &toplevelClosed, &toplevelParent};

void toplevelCreated(void* data, zwlr_foreign_toplevel_manager_v1*,
                     zwlr_foreign_toplevel_handle_v1* handle) {
    auto& c = *static_cast<Connection*>(data);
    auto listed = std::make_unique<ListedToplevel>();
    listed->handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, listed.get());
    c.toplevels.push_back(std::move(listed));
}
void managerFinished(void*, zwlr_foreign_toplevel_manager_v1*) {}
const zwlr_foreign_toplevel_manager_v1_listener managerListener = {&toplevelCreated,
                                                                   &managerFinished};

// ---- Globals ---------------------------------------------------------------------------------

void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
            uint32_t version) {
    auto& c = *static_cast<Connection*>(data);
    const std::string_view offered = interface;
    if (offered == wl_seat_interface.name && c.seat == nullptr) {
        c.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (offered == zwlr_foreign_toplevel_manager_v1_interface.name &&
               c.toplevelManager == nullptr) {
        c.toplevelManager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                             std::min<uint32_t>(version, 3)));
        zwlr_foreign_toplevel_manager_v1_add_listener(c.toplevelManager, &managerListener, &c);
    } else if (offered == zwp_virtual_keyboard_manager_v1_interface.name &&
               c.keyboardManager == nullptr) {
        c.keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}
void globalRemoved(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {&global, &globalRemoved};

Connection& connection() {
    static Connection c;
    static const bool opened = [] {
        wl_log_set_handler_client(&discardLog);
        c.display = wl_display_connect(nullptr);
        if (c.display == nullptr) {
            return false;
        }
        c.registry = wl_display_get_registry(c.display);
        if (c.registry == nullptr) {
            c.broken = true;
            return false;
        }
        wl_registry_add_listener(c.registry, &registryListener, &c);
        // The globals, then what binding them brought: the toplevels and their facts.
        return roundTrip(c) && roundTrip(c);
    }();
    static_cast<void>(opened);
    return c;
}

// ---- The keyboard ----------------------------------------------------------------------------

// The keymap goes to the compositor as a file, terminating NUL included.
bool sendKeymap(Connection& c) {
    const std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(c.keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    if (text == nullptr) {
        return false;
    }
    const std::size_t size = std::strlen(text.get()) + 1;
    const int fd = memfd_create("keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text.get() + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    zwp_virtual_keyboard_v1_keymap(c.virtualKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    close(fd); // libwayland has sent a duplicate by the next flush
    return true;
}

bool makeVirtualKeyboard(Connection& c) {
    if (c.keyboardManager == nullptr || c.seat == nullptr) {
        return false;
    }
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    if (context == nullptr) {
        return false;
    }
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    c.keymap.reset(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (c.keymap == nullptr) {
        return false;
    }
    c.keyState.reset(xkb_state_new(c.keymap.get()));
    if (c.keyState == nullptr) {
        return false;
    }
    c.virtualKeyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(c.keyboardManager, c.seat);
    return c.virtualKeyboard != nullptr && sendKeymap(c) && roundTrip(c);
}

Connection& keyboardConnection() {
    Connection& c = connection();
    if (c.keyboard == Keyboard::undecided) {
        if (!failed(c) && makeVirtualKeyboard(c)) {
            c.keyboard = Keyboard::virtualKeyboard;
        } else if (mutter::remoteDesktopOffered() && mutter::startSession()) {
            c.keyboard = Keyboard::mutter;
        } else {
            c.keyboard = Keyboard::none;
        }
    }
    return c;
}

// The key of our keymap whose first level types `keysym`.
std::optional<unsigned> keymapKey(const Connection& c, unsigned long keysym) {
    const xkb_keycode_t first = xkb_keymap_min_keycode(c.keymap.get());
    const xkb_keycode_t last = xkb_keymap_max_keycode(c.keymap.get());
    for (xkb_keycode_t key = first; key <= last && key != 0; ++key) {
        const xkb_keysym_t* symbols = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(c.keymap.get(), key, 0, 0, &symbols);
        if (count == 1 && symbols[0] == keysym) {
            return key;
        }
    }
    return std::nullopt;
}

unsigned long keysymOf(Modifier modifier) {
    switch (modifier) {
    case Modifier::control:
        return XKB_KEY_Control_L;
    case Modifier::shift:
        return XKB_KEY_Shift_L;
    case Modifier::alt:
        return XKB_KEY_Alt_L;
    }
    return XKB_KEY_NoSymbol;
}

uint32_t timestamp() {
    return static_cast<uint32_t>(nowMillis());
}

// One key of our keymap through the virtual keyboard, followed by the modifier state that it
// leaves, as a keyboard's driver reports it.
void sendVirtualKey(Connection& c, unsigned key, bool press) {
    constexpr unsigned evdevOffset = 8; // xkb numbers keys as the kernel does, plus 8
    zwp_virtual_keyboard_v1_key(c.virtualKeyboard, timestamp(), key - evdevOffset,
                                press ? WL_KEYBOARD_KEY_STATE_PRESSED
                                      : WL_KEYBOARD_KEY_STATE_RELEASED);
    xkb_state_update_key(c.keyState.get(), key, press ? XKB_KEY_DOWN : XKB_KEY_UP);
    zwp_virtual_keyboard_v1_modifiers(
        c.virtualKeyboard, xkb_state_serialize_mods(c.keyState.get(), XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(c.keyState.get(), XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(c.keyState.get(), XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(c.keyState.get(), XKB_STATE_LAYOUT_EFFECTIVE));
}

bool sendKey(Connection& c, unsigned key, bool press) {
    if (c.keyboard == Keyboard::mutter) {
        return mutter::notifyKeysym(key, press);
    }
    sendVirtualKey(c, key, press);
    return true;
}

} // namespace

ActivationOutcome activateWindow(const WantedWindow& wanted) {
    Connection& c = connection();
    if (failed(c) || c.toplevelManager == nullptr || c.seat == nullptr) {
        return ActivationOutcome::unsupported;
    }
    // The list as it is now: windows may have come and gone since the connection was made.
    if (!roundTrip(c)) {
        return ActivationOutcome::unsupported;
    }
    std::vector<Toplevel> listed;
    std::vector<zwlr_foreign_toplevel_handle_v1*> handles;
    for (const auto& toplevel : c.toplevels) {
        if (!toplevel->closed) {
            listed.push_back(toplevel->facts);
            handles.push_back(toplevel->handle);
        }
    }
    const Match match = matchToplevel(listed, wanted);
    switch (match.kind) {
    case MatchKind::none:
        return ActivationOutcome::notFound;
    case MatchKind::ambiguous:
        return ActivationOutcome::ambiguous;
    case MatchKind::one:
        break;
    }
    zwlr_foreign_toplevel_handle_v1_activate(handles[match.index], c.seat);
    return roundTrip(c) ? ActivationOutcome::requested : ActivationOutcome::unsupported;
}

std::optional<unsigned> keyForKeysym(unsigned long keysym) {
    Connection& c = keyboardConnection();
    switch (c.keyboard) {
    case Keyboard::virtualKeyboard:
        return failed(c) ? std::nullopt : keymapKey(c, keysym);
    case Keyboard::mutter:
        return static_cast<unsigned>(keysym);
    case Keyboard::undecided:
    case Keyboard::none:
        break;
    }
    return std::nullopt;
}

bool postKeystroke(unsigned key, const std::vector<Modifier>& modifiers) {
    Connection& c = keyboardConnection();
    if (c.keyboard == Keyboard::none || (c.keyboard == Keyboard::virtualKeyboard && failed(c))) {
        return false;
    }
    // Our keyboard holds nothing between keystrokes: every modifier wanted is pressed for it.
    std::vector<NeededModifier> needed;
    for (Modifier modifier : modifiers) {
        if (const std::optional<unsigned> modifierKey = keyForKeysym(keysymOf(modifier))) {
            needed.push_back({*modifierKey, 0, false});
        }
    }
    if (needed.size() != modifiers.size()) {
        return false; // a keystroke without one of its modifiers would be another keystroke
    }
    bool sent = true;
    for (const KeyAction& action : keystrokeActions(key, needed, {})) {
        sent = sendKey(c, action.keycode, action.press) && sent;
    }
    if (c.keyboard == Keyboard::virtualKeyboard) {
        sent = roundTrip(c) && sent;
    }
    return sent;
}

} // namespace xdesk::wayland
