// The search for the focused accessible: in the application of the active window, or in an
// application given, through the active window's Collection query or else a bounded walk, and in
// either case the deepest focused accessible, not the first focused container.
#pragma once

#include "accessible.h"

#include <optional>
#include <vector>

namespace xdesk {

// The AT-SPI applications (their root accessibles) of the desktop whose process is `pid`, or all
// of them.
AXError applications(std::optional<pid_t> pid, std::vector<Accessible>* found);

// The focused accessible in the active window of one of `candidates`, as a new element.
AXError copyFocusIn(const std::vector<Accessible>& candidates, CFTypeRef* value);

// The focus of the desktop, as a new element: in the application of the window that the window
// manager says is active. Without a window manager that says so, every application is asked.
AXError copySystemWideFocus(CFTypeRef* value);

// Whether the desktop's focused accessible (as copySystemWideFocus finds it) is a terminal, the
// AT-SPI role of terminal emulators' text (VTE, Konsole). False when there is no accessibility
// bus, no focus, or no answer.
bool focusIsTerminal();

} // namespace xdesk
