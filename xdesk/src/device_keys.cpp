#include "device_keys.h"

namespace xdesk {

bool isKeyboardKey(unsigned kernelCode) {
    return kernelCode < 256 - xKeycodeOffset &&
           macKeyCodeFor(kernelCode + xKeycodeOffset) != noMacKeyCode;
}

namespace {

// Marks the key held or released on one device, and counts its holders.
void setHeld(KeyHolders& holders, DeviceHeldKeys& device, unsigned xKeycode, bool held) {
    if (device[xKeycode] == held) {
        return;
    }
    device[xKeycode] = held;
    if (held) {
        ++holders[xKeycode];
    } else if (holders[xKeycode] > 0) {
        --holders[xKeycode];
    }
}

} // namespace

void addHeldKeys(TapKeyboard& keyboard, KeyHolders& holders, DeviceHeldKeys& device,
                 const DeviceHeldKeys& held) {
    for (unsigned xKeycode = 0; xKeycode < held.size(); ++xKeycode) {
        if (held[xKeycode]) {
            setHeld(holders, device, xKeycode, true);
            keyboard.held[xKeycode] = true;
        }
    }
}

std::optional<TapEvent> deviceKeyEvent(TapKeyboard& keyboard, KeyHolders& holders,
                                       DeviceHeldKeys& device, unsigned kernelCode, int value) {
    constexpr int release = 0;
    constexpr int repeat = 2;
    if (kernelCode >= keyboard.modifiers.size() - xKeycodeOffset || value < release ||
        value > repeat) {
        return std::nullopt;
    }
    const unsigned xKeycode = kernelCode + xKeycodeOffset;
    const bool modifier = keyboard.modifiers[xKeycode] != MacModifierKey::none;
    if (modifier && value == repeat) {
        return std::nullopt;
    }
    const bool press = value != release;
    setHeld(holders, device, xKeycode, press);
    const bool heldAnywhere = holders[xKeycode] > 0;
    // A modifier's flags are those of every device; another key is pressed or released as this
    // device reports it, and stays held for the next press while any device holds it.
    std::optional<TapEvent> event =
        tapEventFor(keyboard, xKeycode, modifier ? heldAnywhere : press, value == repeat);
    keyboard.held[xKeycode] = heldAnywhere;
    return event;
}

} // namespace xdesk
