// The Wayland side of the desktop: what a client of the compositor may do for the tools. A
// wlroots compositor lists its toplevel windows and activates one on request
// (zwlr_foreign_toplevel_manager_v1), and takes keys from a keyboard of the client's own
// (zwp_virtual_keyboard_v1); GNOME's mutter offers neither, but takes keys through its
// RemoteDesktop service on the session bus (mutter.h). No Wayland protocol tells a client which
// window has the focus or which process owns a window: the accessibility bus says that
// (wayland_session.h).
#pragma once

#include "posted_keys.h"
#include "wayland_rules.h"

#include <optional>
#include <string>
#include <vector>

namespace xdesk::wayland {

// The compositor named by WAYLAND_DISPLAY is connected to on first use, and the connection stays
// open for the life of the process. Without one, or once the compositor has gone or refused a
// request, every call below answers nothing; nothing is ever printed.

enum class ActivationOutcome {
    requested,   // the compositor was asked to activate the one matching toplevel
    unsupported, // no compositor, or one without foreign-toplevel management
    notFound,    // no toplevel matches
    ambiguous,   // only toplevels that cannot be told apart match: none was activated
};

// Asks the compositor to give the keyboard focus of the seat to the window of `wanted`. Success
// means only that the request went out; the accessibility bus shows whether it was carried out.
[[nodiscard]] ActivationOutcome activateWindow(const WantedWindow& wanted);

// The key that types `keysym` on the tools' own keyboard: a key of the keymap that the virtual
// keyboard gives the compositor (which has the US layout, so that the same key types the same
// symbol whatever the user's layout), or, on mutter, the keysym itself, which mutter finds in the
// session's keymap. Nothing when the compositor takes keys in neither way.
[[nodiscard]] std::optional<unsigned> keyForKeysym(unsigned long keysym);

// Posts one whole keystroke of a key of keyForKeysym: the `modifiers` go down, the key goes down
// and up, and the modifiers go up in reverse order (posted_keys.h: keystrokeActions). The tools'
// keyboard carries its own modifier state, so the modifiers that the user holds on another
// keyboard neither add to the keystroke nor are released (on mutter, whose session shares the
// seat's keyboard state, they do add to it). No key of ours is left down afterwards. Returns once
// the compositor has taken the keys in; false when they could not all be sent.
bool postKeystroke(unsigned key, const std::vector<Modifier>& modifiers);

} // namespace xdesk::wayland
