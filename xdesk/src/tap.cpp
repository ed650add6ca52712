// Event taps on the Linux desktop: XInput2 raw key events of the whole session on X11 (on a
// Wayland session, the kernel's input devices: device_tap.h).
//
// A tap is a connection of its own to the X server that selects raw key presses and releases on
// the root window for all master devices. X sends those for every key of the session, whatever
// window has the focus and whatever client has grabbed the keyboard (XInput 2.1 and later),
// without holding the key back: on Linux a tap only listens, and what its callback returns can
// change nothing. The run loop waits on the connection; each raw event becomes the CGEvent that
// a Mac would deliver (tapped_keys.h: tapEventFor) and goes to the callback when its type is among
// the events of interest.
#include "device_tap.h"
#include "session_type.h"
#include "tap_port.h"
#include "x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <memory>

namespace xdesk {
namespace {

struct TapObject : TapPort {
    Display* display = nullptr;
    bool lost = false;
    int xinputOpcode = 0;
    int xkbEventBase = -1; // -1 without XKB

    int descriptor() const override { return lost ? -1 : ConnectionNumber(display); }
    bool hasReadAhead() override { return !lost && XEventsQueued(display, QueuedAlready) > 0; }
    void serve(bool (*stopRequested)()) override;
    void dropPayload() override {
        if (display != nullptr) {
            XCloseDisplay(display);
            display = nullptr;
            lost = true;
        }
    }
};

// Which X keys are modifier keys, by the keysym each types without modifiers.
void readKeyboardMapping(TapObject& tap) {
    int first = 0;
    int last = 0;
    XDisplayKeycodes(tap.display, &first, &last);
    tap.keyboard.modifiers.fill(MacModifierKey::none);
    if (first < 0 || last >= static_cast<int>(tap.keyboard.modifiers.size()) || last < first) {
        return;
    }
    int perKey = 0;
    KeySym* keysyms =
        XGetKeyboardMapping(tap.display, static_cast<KeyCode>(first), last - first + 1, &perKey);
    if (keysyms == nullptr) {
        return;
    }
    if (perKey > 0) {
        for (int keycode = first; keycode <= last; ++keycode) {
            const KeySym unshifted = keysyms[static_cast<std::size_t>(keycode - first) *
                                             static_cast<std::size_t>(perKey)];
            tap.keyboard.modifiers[static_cast<std::size_t>(keycode)] = macModifierFor(unshifted);
        }
    }
    XFree(keysyms);
}

// The keys held when the tap starts, so that a modifier held already shows in the first flags
// (as on a Mac, whose flags are the keyboard's) and a key held already repeats.
void readHeldKeys(TapObject& tap) {
    char keys[32] = {};
    XQueryKeymap(tap.display, keys);
    for (std::size_t keycode = 0; keycode < tap.keyboard.held.size(); ++keycode) {
        const auto byte = static_cast<unsigned char>(keys[keycode / 8]);
        tap.keyboard.held[keycode] = (byte & (1u << (keycode % 8))) != 0;
    }
}

// Serves the events that have arrived when it is called, and no more: under a flood of keys the
// run loop's other sources (a backlog of lines waiting for standard output) get their turn
// between two passes. Events read ahead meanwhile wait for the next pass, which comes at once.
void TapObject::serve(bool (*stopRequested)()) {
    for (int arrived = lost ? 0 : XPending(display); arrived > 0 && !lost; --arrived) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            // A server without XKB, or a client that has not taken XKB on, hears of a new
            // keyboard mapping this way.
            XRefreshKeyboardMapping(&event.xmapping);
            if (event.xmapping.request != MappingPointer) {
                readKeyboardMapping(*this);
            }
            continue;
        }
        if (xkbEventBase >= 0 && event.type == xkbEventBase) {
            // With XKB, this way: a new key map (xmodmap, setxkbmap), or another keyboard whose
            // map replaces the core keyboard's (Xwayland swaps maps with the keyboard that types).
            const auto* notice = reinterpret_cast<const XkbAnyEvent*>(&event);
            if (notice->xkb_type == XkbMapNotify || notice->xkb_type == XkbNewKeyboardNotify) {
                readKeyboardMapping(*this);
            }
            continue;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (event.type != GenericEvent || cookie->extension != xinputOpcode ||
            !XGetEventData(display, cookie)) {
            continue;
        }
        const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
        std::optional<TapEvent> tapped;
        if (raw->evtype == XI_RawKeyPress || raw->evtype == XI_RawKeyRelease) {
            // The key state follows every key, also while the tap is disabled.
            tapped = tapEventFor(keyboard, static_cast<unsigned>(raw->detail),
                                 raw->evtype == XI_RawKeyPress, (raw->flags & XIKeyRepeat) != 0);
        }
        XFreeEventData(display, cookie);
        if (tapped && enabled && interested(*this, tapped->type)) {
            deliver(*this, *tapped);
            if (stopRequested()) {
                return;
            }
        }
    }
    if (lost) {
        // The display has gone, and the session with it: no event will ever come again. The run
        // loop stops, so that the tool ends as when its run loop is stopped.
        CFRunLoopStop(CFRunLoopGetCurrent());
    }
}

// Asks the server to announce every change of the core keyboard's key map. A server with XKB
// sends a client that uses XKB (as Xlib does as soon as it needs the extension) XKB notices
// instead of the core MappingNotify, so without these the tap would keep the map it started
// with. Nothing when the server has no XKB: MappingNotify then comes to every client.
void watchKeyboardMapping(TapObject& tap) {
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(tap.display, &opcode, &eventBase, &errorBase, &major, &minor)) {
        return;
    }
    constexpr unsigned long notices = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
    if (XkbSelectEvents(tap.display, XkbUseCoreKbd, notices, notices)) {
        tap.xkbEventBase = eventBase;
    }
}

// Sets the tap up on its connection: XInput 2.1 or later, raw key events selected on the root
// window for all master devices, the key map's changes, the keyboard mapping and the keys held
// now. False when the server cannot.
bool listen(TapObject& tap) {
    int event = 0;
    int error = 0;
    if (!XQueryExtension(tap.display, "XInputExtension", &tap.xinputOpcode, &event, &error)) {
        return false;
    }
    // 2.1 is the first version that delivers raw events whatever grab is active.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(tap.display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 1)) {
        return false;
    }
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawKeyPress);
    XISetMask(mask, XI_RawKeyRelease);
    XIEventMask selection;
    selection.deviceid = XIAllMasterDevices;
    selection.mask_len = sizeof mask;
    selection.mask = mask;
    const unsigned long errorsBefore = x11::errorsSeen();
    XISelectEvents(tap.display, DefaultRootWindow(tap.display), &selection, 1);
    // Selected before the mapping is read: a change in between is then both read and announced.
    watchKeyboardMapping(tap);
    // Selected before the keys held are read: a key pressed in between is then held already
    // when its press arrives, which for a modifier changes nothing.
    readKeyboardMapping(tap);
    readHeldKeys(tap);
    XSync(tap.display, False);
    return !tap.lost && x11::errorsSeen() == errorsBefore;
}

} // namespace
} // namespace xdesk

using namespace xdesk;

extern "C" {

// NULL when there is no display or its server has no XInput 2.1, and for a tap at the HID level,
// which a Mac grants only to root. Every client may listen to the keyboard on X, so trust plays
// no part here (the tools test it before). On a Wayland session, the tap over the input devices.
CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement, CGEventTapOptions,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback,
                               void* userInfo) {
    if (callback == nullptr || tap == kCGHIDEventTap) {
        return nullptr;
    }
    // No Wayland protocol lets a client hear the keys meant for others, and Xwayland hears only
    // those of X windows: a Wayland session's keys come from the kernel's input devices.
    if (sessionType() == SessionType::wayland) {
        return createDeviceTap(inputDeviceFolder, eventsOfInterest, callback, userInfo);
    }
    auto made = std::make_unique<TapObject>();
    made->eventsOfInterest = eventsOfInterest;
    made->callback = callback;
    made->userInfo = userInfo;
    made->display = x11::openWatchConnection(&made->lost);
    if (made->display == nullptr) {
        return nullptr;
    }
    TapObject* object = track(std::move(made));
    if (!listen(*object)) {
        CFRelease(toRef<CFMachPortRef>(object));
        return nullptr;
    }
    return toRef<CFMachPortRef>(object);
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
    tapPort(tap, "CGEventTapEnable")->enabled = enable;
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
    return tapPort(tap, "CGEventTapIsEnabled")->enabled;
}

} // extern "C"
