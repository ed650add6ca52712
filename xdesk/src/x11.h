// The X11 side of the desktop: the display, the EWMH properties that name the active window and
// the applications' windows, window activation, and key presses through XTest.
#pragma once

#include "posted_keys.h"

#include <sys/types.h>

#include <optional>
#include <string>

typedef struct _XDisplay Display;

namespace xdesk::x11 {

// The display is opened from DISPLAY on first use and stays open for the life of the process.
// Without one, or once the connection is lost, every query below answers nothing: X errors and a
// lost connection never end the process and never print anything.

// A text property of the root window (such as AT_SPI_BUS); nothing when absent.
std::optional<std::string> rootTextProperty(const char* name);

// What the window manager says about the active window.
struct ActiveWindow {
    bool managed = false;          // the root carries _NET_ACTIVE_WINDOW at all
    std::optional<pid_t> pid;      // the active window's _NET_WM_PID (none: no window, or no pid)
    bool windowWithoutPid = false; // there is an active window, but it has no _NET_WM_PID
};
ActiveWindow activeWindow();

// Asks the window manager to activate the top-most client window of `pid` (a _NET_ACTIVE_WINDOW
// client message on the root, as a pager sends it for the user). False when no display or no
// client window of that process was found, so no request went out.
bool requestActivation(pid_t pid);

// The key that types `keysym` in the current keyboard mapping; nothing without one, without a
// display or without the XTest extension.
std::optional<unsigned> keycodeForKeysym(unsigned long keysym);

// The key of a modifier, its bits in the modifier mapping, and whether the modifier is in
// effect now (held or locked).
std::optional<NeededModifier> modifierState(Modifier modifier);

// The keys that are down now and hold a modifier (posted_keys.h: holdsModifier), in key code
// order, with their bits in the modifier mapping.
std::vector<HeldModifierKey> heldModifierKeys();

// Presses or releases keys through XTest, in order, sent to the server together, and waits
// until the server has them.
void fakeKeys(const std::vector<KeyAction>& actions);

// A connection of its own to the display named by DISPLAY, for a watcher that takes events from
// it (the event tap, the activation watch), with the same quiet handling of errors: when the
// connection is lost, `*lost` becomes true instead of the process ending. nullptr without a
// display. The caller closes it.
Display* openWatchConnection(bool* lost);

// How many X errors the process has met so far, on any of its connections: a caller compares
// the count before and after a round trip to learn whether its requests were refused.
unsigned long errorsSeen();

} // namespace xdesk::x11
