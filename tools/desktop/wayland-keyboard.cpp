// The keyboard of a headless wlroots compositor (sway) for the desktop tests: a virtual keyboard
// (zwp_virtual_keyboard_v1) that stays on the seat for as long as this process runs. A seat
// without a keyboard gives no client the keyboard focus, and a keyboard that comes and goes with
// each keystroke loses the first key, so the test desktop starts one of these and keeps it.
//
//     wayland-keyboard        (WAYLAND_DISPLAY names the compositor)
//
// Writes "ready" once the compositor has the keyboard and its keymap (US layout), then takes one
// command per line on standard input and answers each with "ok" once the compositor has it (or
// "error: ..."):
//
//     press CODE      presses the key with the Linux input code CODE (KEY_LEFTCTRL is 29)
//     release CODE    releases it
//
// After each key the modifier state that the keys held now make is sent too, as a keyboard
// driver does. It ends at the end of its input, or with status 1 when the compositor goes.
#include "virtual-keyboard-unstable-v1-client.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::string_view(interface) == wl_seat_interface.name && globals->seat == nullptr) {
        globals->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::string_view(interface) == zwp_virtual_keyboard_manager_v1_interface.name) {
        globals->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}
void globalRemoved(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {&global, &globalRemoved};

int fail(const std::string& why) {
    std::cout << "error: " << why << std::endl;
    return 1;
}

uint32_t millis() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return fail("cannot connect to the compositor");
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    if (wl_display_roundtrip(display) < 0 || globals.seat == nullptr ||
        globals.manager == nullptr) {
        return fail("the compositor offers no seat or no virtual keyboards");
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
        return fail("no US keymap");
    }
    xkb_state* state = xkb_state_new(keymap);
    std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    const std::size_t size = std::strlen(text.get()) + 1;
    const int fd = memfd_create("keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text.get(), size) != static_cast<ssize_t>(size)) {
        return fail("cannot write the keymap");
    }
    zwp_virtual_keyboard_v1* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.manager, globals.seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    if (wl_display_roundtrip(display) < 0) {
        return fail("the compositor refused the keyboard");
    }
    close(fd);
    std::cout << "ready" << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string verb;
        unsigned code = 0;
        if (!(words >> verb >> code) || (verb != "press" && verb != "release")) {
            std::cout << "error: not a command: " << line << std::endl;
            continue;
        }
        const bool press = verb == "press";
        zwp_virtual_keyboard_v1_key(keyboard, millis(), code,
                                    press ? WL_KEYBOARD_KEY_STATE_PRESSED
                                          : WL_KEYBOARD_KEY_STATE_RELEASED);
        xkb_state_update_key(state, code + 8, press ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_modifiers(
            keyboard, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
        if (wl_display_roundtrip(display) < 0) {
            return fail("the compositor has gone");
        }
        std::cout << "ok" << std::endl;
    }
    zwp_virtual_keyboard_v1_destroy(keyboard);
    wl_display_roundtrip(display);
    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    wl_display_disconnect(display);
    return 0;
}
