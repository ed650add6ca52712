// GNOME's compositor, mutter, takes keys from a client of the session bus through its
// RemoteDesktop service (org.gnome.Mutter.RemoteDesktop): a session made for this process, which
// mutter ends when the process leaves the bus. It offers no way to bring another application's
// window to the front.
#pragma once

namespace xdesk::mutter {

// Whether the session bus has mutter's RemoteDesktop service. Asked once per process, without
// starting anything.
[[nodiscard]] bool remoteDesktopOffered();

// Makes and starts the remote desktop session of this process, once; whether it runs. Asked
// before any keyboard event is made, so that a service that refuses is known before a key is due.
[[nodiscard]] bool startSession();

// Presses or releases the key that types `keysym` in the session's keymap, through the session
// of startSession. Returns once mutter has answered; false when there is no session, or mutter
// refused or did not answer in time.
bool notifyKeysym(unsigned long keysym, bool pressed);

} // namespace xdesk::mutter
