// The event tap of a Wayland session: the kernel's input devices.
//
// No Wayland protocol lets a client hear the keys meant for other clients, by design, and
// Xwayland hears only those of X windows. What works under every compositor (and on X11 and the
// Linux console) is reading the kernel's keyboards, /dev/input/event*, as key remappers do. Access
// to them (membership of the `input` group, or a udev rule) stands for the Mac's permission.
//
// The tap reads every keyboard in the folder through libevdev, listening only: it never grabs a
// device, so every key goes on to the compositor as it came. It follows keyboards plugged in or
// given to the user while it runs (inotify on the folder), drops a keyboard that goes away and goes
// on without any. Each key becomes the event that a Mac would deliver (device_keys.h), with the
// modifiers of all keyboards together. The run loop waits on one descriptor, an epoll over the
// keyboards and the folder's watch.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

namespace xdesk {

// Where the kernel's input devices are.
inline constexpr const char* inputDeviceFolder = "/dev/input";

// Whether `folder` holds a keyboard that this process can read: the test of a process that taps
// keys on a Wayland session. False when the folder cannot be read, holds no keyboard, or holds
// only keyboards that this process may not open.
bool keyboardReadable(const char* folder);

// keyboardReadable(inputDeviceFolder).
bool inputDevicesTrusted();

// An event tap over the keyboards in `folder`, as CGEventTapCreate makes one (enabled, delivering
// the events of interest to `callback`). Its modifier keys are those of the session's default
// keymap (xkbcommon's, from the XKB_DEFAULT_* variables when they make a keymap, else its
// built-in one), by the keysym each key types without modifiers, as the X tap takes them from
// the X server. A folder without keyboards makes a tap that waits for one. NULL when the folder
// cannot be opened or no keymap can be made.
CFMachPortRef createDeviceTap(const char* folder, CGEventMask eventsOfInterest,
                              CGEventTapCallBack callback, void* userInfo);

} // namespace xdesk
