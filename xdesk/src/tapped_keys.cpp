#include "tapped_keys.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

#include <cstddef>

namespace xdesk {

namespace {

// Offset between the kernel's key codes and X's on Linux.
constexpr unsigned evdevOffset = 8;

struct KeyEntry {
    unsigned kernelCode;
    int64_t macCode;
};

// Kernel key code (linux/input-event-codes.h) to the Mac's virtual key code (HIToolbox's kVK_*)
// of the key at the same place. Caps Lock is left out: on a Mac it changes flags rather than
// going down and up.
constexpr KeyEntry positionalKeys[] = {
    {KEY_A, 0x00},         {KEY_S, 0x01},          {KEY_D, 0x02},         {KEY_F, 0x03},
    {KEY_H, 0x04},         {KEY_G, 0x05},          {KEY_Z, 0x06},         {KEY_X, 0x07},
    {KEY_C, 0x08},         {KEY_V, 0x09},          {KEY_B, 0x0B},         {KEY_Q, 0x0C},
    {KEY_W, 0x0D},         {KEY_E, 0x0E},          {KEY_R, 0x0F},         {KEY_Y, 0x10},
    {KEY_T, 0x11},         {KEY_1, 0x12},          {KEY_2, 0x13},         {KEY_3, 0x14},
    {KEY_4, 0x15},         {KEY_6, 0x16},          {KEY_5, 0x17},         {KEY_EQUAL, 0x18},
    {KEY_9, 0x19},         {KEY_7, 0x1A},          {KEY_MINUS, 0x1B},     {KEY_8, 0x1C},
    {KEY_0, 0x1D},         {KEY_RIGHTBRACE, 0x1E}, {KEY_O, 0x1F},         {KEY_U, 0x20},
    {KEY_LEFTBRACE, 0x21}, {KEY_I, 0x22},          {KEY_P, 0x23},         {KEY_L, 0x25},
    {KEY_J, 0x26},         {KEY_APOSTROPHE, 0x27}, {KEY_K, 0x28},         {KEY_SEMICOLON, 0x29},
    {KEY_BACKSLASH, 0x2A}, {KEY_COMMA, 0x2B},      {KEY_SLASH, 0x2C},     {KEY_N, 0x2D},
    {KEY_M, 0x2E},         {KEY_DOT, 0x2F},        {KEY_GRAVE, 0x32},     {KEY_ENTER, 0x24},
    {KEY_TAB, 0x30},       {KEY_SPACE, 0x31},      {KEY_BACKSPACE, 0x33}, {KEY_ESC, 0x35},
    {KEY_F1, 0x7A},        {KEY_F2, 0x78},         {KEY_F3, 0x63},        {KEY_F4, 0x76},
    {KEY_F5, 0x60},        {KEY_F6, 0x61},         {KEY_F7, 0x62},        {KEY_F8, 0x64},
    {KEY_F9, 0x65},        {KEY_F10, 0x6D},        {KEY_F11, 0x67},       {KEY_F12, 0x6F},
    {KEY_INSERT, 0x72},    {KEY_HOME, 0x73},       {KEY_PAGEUP, 0x74},    {KEY_DELETE, 0x75},
    {KEY_END, 0x77},       {KEY_PAGEDOWN, 0x79},   {KEY_LEFT, 0x7B},      {KEY_RIGHT, 0x7C},
    {KEY_DOWN, 0x7D},      {KEY_UP, 0x7E},         {KEY_KPDOT, 0x41},     {KEY_KPASTERISK, 0x43},
    {KEY_KPPLUS, 0x45},    {KEY_NUMLOCK, 0x47},    {KEY_KPSLASH, 0x4B},   {KEY_KPENTER, 0x4C},
    {KEY_KPMINUS, 0x4E},   {KEY_KPEQUAL, 0x51},    {KEY_KP0, 0x52},       {KEY_KP1, 0x53},
    {KEY_KP2, 0x54},       {KEY_KP3, 0x55},        {KEY_KP4, 0x56},       {KEY_KP5, 0x57},
    {KEY_KP6, 0x58},       {KEY_KP7, 0x59},        {KEY_KP8, 0x5B},       {KEY_KP9, 0x5C},
    {KEY_LEFTSHIFT, 0x38}, {KEY_RIGHTSHIFT, 0x3C}, {KEY_LEFTCTRL, 0x3B},  {KEY_RIGHTCTRL, 0x3E},
    {KEY_LEFTALT, 0x3A},   {KEY_RIGHTALT, 0x3D},   {KEY_LEFTMETA, 0x37},  {KEY_RIGHTMETA, 0x36},
};

constexpr std::array<int64_t, 256> macKeyCodes = [] {
    std::array<int64_t, 256> codes{};
    for (int64_t& code : codes) {
        code = noMacKeyCode;
    }
    for (const KeyEntry& entry : positionalKeys) {
        codes[entry.kernelCode + evdevOffset] = entry.macCode;
    }
    return codes;
}();

struct ModifierBits {
    CGEventFlags kind; // device-independent
    CGEventFlags side; // device-dependent (IOLLEvent.h's NX_DEVICE*KEYMASK)
    int64_t macKeyCode;
};

ModifierBits bitsOf(MacModifierKey key) {
    switch (key) {
    case MacModifierKey::leftShift:
        return {kCGEventFlagMaskShift, 0x02, 0x38};
    case MacModifierKey::rightShift:
        return {kCGEventFlagMaskShift, 0x04, 0x3C};
    case MacModifierKey::leftControl:
        return {kCGEventFlagMaskControl, 0x01, 0x3B};
    case MacModifierKey::rightControl:
        return {kCGEventFlagMaskControl, 0x2000, 0x3E};
    case MacModifierKey::leftOption:
        return {kCGEventFlagMaskAlternate, 0x20, 0x3A};
    case MacModifierKey::rightOption:
        return {kCGEventFlagMaskAlternate, 0x40, 0x3D};
    case MacModifierKey::leftCommand:
        return {kCGEventFlagMaskCommand, 0x08, 0x37};
    case MacModifierKey::rightCommand:
        return {kCGEventFlagMaskCommand, 0x10, 0x36};
    case MacModifierKey::none:
        break;
    }
    return {0, 0, noMacKeyCode};
}

} // namespace

MacModifierKey macModifierFor(unsigned long keysym) {
    switch (keysym) {
    case XK_Shift_L:
        return MacModifierKey::leftShift;
    case XK_Shift_R:
        return MacModifierKey::rightShift;
    case XK_Control_L:
        return MacModifierKey::leftControl;
    case XK_Control_R:
        return MacModifierKey::rightControl;
    case XK_Alt_L:
    case XK_Meta_L:
        return MacModifierKey::leftOption;
    case XK_Alt_R:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift:
        return MacModifierKey::rightOption;
    case XK_Super_L:
        return MacModifierKey::leftCommand;
    case XK_Super_R:
        return MacModifierKey::rightCommand;
    default:
        return MacModifierKey::none;
    }
}

int64_t macKeyCodeFor(MacModifierKey key) {
    return bitsOf(key).macKeyCode;
}

int64_t macKeyCodeFor(unsigned xKeycode) {
    return xKeycode < macKeyCodes.size() ? macKeyCodes[xKeycode] : noMacKeyCode;
}

CGEventFlags heldFlags(const TapKeyboard& keyboard) {
    CGEventFlags flags = 0;
    for (std::size_t keycode = 0; keycode < keyboard.modifiers.size(); ++keycode) {
        if (keyboard.modifiers[keycode] != MacModifierKey::none && keyboard.held[keycode]) {
            const ModifierBits bits = bitsOf(keyboard.modifiers[keycode]);
            flags |= bits.kind | bits.side;
        }
    }
    return flags;
}

std::optional<TapEvent> tapEventFor(TapKeyboard& keyboard, unsigned xKeycode, bool press,
                                    bool xRepeat) {
    if (xKeycode >= keyboard.modifiers.size()) {
        return std::nullopt;
    }
    const bool heldBefore = keyboard.held[xKeycode];
    keyboard.held[xKeycode] = press;
    const MacModifierKey modifier = keyboard.modifiers[xKeycode];
    TapEvent event;
    event.flags = heldFlags(keyboard);
    if (modifier != MacModifierKey::none) {
        event.type = kCGEventFlagsChanged;
        event.keycode = macKeyCodeFor(modifier);
        return event;
    }
    event.type = press ? kCGEventKeyDown : kCGEventKeyUp;
    event.keycode = macKeyCodeFor(xKeycode);
    event.autorepeat = press && (xRepeat || heldBefore) ? 1 : 0;
    return event;
}

} // namespace xdesk
