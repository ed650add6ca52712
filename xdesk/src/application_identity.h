// What an active window says of its application, and when a change of active window is an
// application activation. Pure: unit-tested without a desktop.
#pragma once

#include <xdesk/desktop.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace xdesk {

// What the window manager's active window says of its application.
struct WindowFacts {
    pid_t pid = -1;                              // _NET_WM_PID
    std::optional<std::string> wmClass;          // WM_CLASS as stored: instance, NUL, class, NUL
    std::optional<std::string> gtkApplicationId; // _GTK_APPLICATION_ID
    std::optional<std::string> executablePath;   // where /proc/PID/exe leads
};

// The running application of a window: the bundle identifier is _GTK_APPLICATION_ID, or else the
// class part of WM_CLASS; the localized name is that class part; the executable name is the last
// path component of the executable (without the " (deleted)" that Linux adds to a replaced
// one). An empty text counts as none. Texts that are not UTF-8 are read as Latin-1, the encoding
// of X's STRING properties.
RunningApplication applicationFor(const WindowFacts& window);

// Whether the active window's process makes an application activation, and if so takes it as
// the current application. No window, or a window without a process, is none and leaves the
// current application as it is; a window of the current application is a window switch.
bool isActivation(std::optional<pid_t>& current, std::optional<pid_t> activeWindowPid);

// Bytes of a text property as UTF-8: as they are when they are UTF-8, else read as Latin-1.
std::string textPropertyUtf8(std::string_view bytes);

} // namespace xdesk
