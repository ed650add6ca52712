// The keys of the kernel's input devices as an event tap sees them: which devices are keyboards,
// and the event that a Mac would deliver for each key a device reports. The kernel numbers the
// keys as X servers on Linux do, less 8, so the key table and the tap's rules are those of the
// X tap (tapped_keys.h). Nothing here reads a device, so all of it is unit-tested without one.
#pragma once

#include "tapped_keys.h"

#include <array>
#include <bitset>
#include <optional>

namespace xdesk {

// An X key code is the kernel's key code plus this.
inline constexpr unsigned xKeycodeOffset = 8;

// Whether a device that can send this kernel key code is a keyboard: a key of the Mac's key table
// (letters, digits, the space bar, the function keys, ...). Mouse buttons, power and sleep
// buttons, and the brightness and volume keys that laptops report on devices of their own are
// not keys of a keyboard.
bool isKeyboardKey(unsigned kernelCode);

// The keys held on each device, by X key code, and how many devices hold each key. The tap's
// TapKeyboard holds the union: a key counts as held while any device holds it.
using DeviceHeldKeys = std::bitset<256>;
using KeyHolders = std::array<unsigned short, 256>;

// Takes the keys that a device holds when the tap starts to read it (none are reported), so that
// the first flags are right and a held key repeats.
void addHeldKeys(TapKeyboard& keyboard, KeyHolders& holders, DeviceHeldKeys& device,
                 const DeviceHeldKeys& held);

// Takes one key event of a device into its held keys, the holders and the keyboard, and gives the
// event that a Mac would deliver for it (tapped_keys.h: tapEventFor). Values as the kernel sends
// them: 0 a release, 1 a press, 2 an auto-repeat of a held key.
// - A modifier key makes a flags-changed event with the flags of the keys held on all devices,
//   so releasing a modifier on one keyboard keeps it held while another holds it. The kernel's
//   auto-repeat of a held modifier makes nothing: a Mac sends no event for it either.
// - Another key makes a key-down or key-up with those flags; an auto-repeat, or a press of a key
//   that some device holds already, is a key-down marked as an auto-repeat.
// Nothing for a key code beyond X's range or a value the kernel never sends.
std::optional<TapEvent> deviceKeyEvent(TapKeyboard& keyboard, KeyHolders& holders,
                                       DeviceHeldKeys& device, unsigned kernelCode, int value);

} // namespace xdesk
