// The event tap of a Wayland session, over stand-in input devices (fake_input/): named pipes in a
// folder that the test names, whose records are what a keyboard sends and whose ioctls a
// stand-in kernel answers, so that the tap's libevdev runs as on a real device. The tests serve
// the tap's port as the run loop does, and see the events its callback is given. That gripwell
// writes the right lines from them, in a real process, is tests/desktop/gripwell_devices_test.py's
// to show.
#include "device_tap.h"

#include "fake_input/tree.h"

#include <CoreGraphics/CoreGraphics.h>
#include <cfcore/objects.h>
#include <cfcore/runloop.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using fakeinput::key;
using fakeinput::keyboardKeys;
using fakeinput::record;

// What a Mac's tap callback reads of an event.
struct Seen {
    CGEventType type = kCGEventNull;
    CGEventFlags flags = 0;
    int64_t keycode = 0;
    int64_t autorepeat = 0;

    bool operator==(const Seen& other) const {
        return type == other.type && flags == other.flags && keycode == other.keycode &&
               autorepeat == other.autorepeat;
    }
};

void PrintTo(const Seen& seen, std::ostream* out) {
    *out << "{type " << seen.type << ", flags 0x" << std::hex << seen.flags << std::dec
         << ", keycode " << seen.keycode << ", autorepeat " << seen.autorepeat << "}";
}

// The Mac's values: virtual key codes (kVK_*), and the flags of each modifier kind with the
// device-dependent bit of its side.
constexpr int64_t macSpace = 49;
constexpr int64_t macB = 11;
constexpr CGEventFlags leftOption = kCGEventFlagMaskAlternate | 0x20;
constexpr CGEventFlags rightOption = kCGEventFlagMaskAlternate | 0x40;

Seen flagsChanged(int64_t keycode, CGEventFlags flags) {
    return {kCGEventFlagsChanged, flags, keycode, 0};
}
Seen keyDown(int64_t keycode, CGEventFlags flags, int64_t autorepeat = 0) {
    return {kCGEventKeyDown, flags, keycode, autorepeat};
}
Seen keyUp(int64_t keycode, CGEventFlags flags) {
    return {kCGEventKeyUp, flags, keycode, 0};
}
Seen optionDown() {
    return flagsChanged(58, leftOption);
}
Seen optionUp() {
    return flagsChanged(58, 0);
}

std::vector<Seen> seen;
bool stopAfterEach = false;
bool stopAsked = false;

bool stopRequested() {
    return stopAsked;
}

CGEventRef take(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    seen.push_back({type, CGEventGetFlags(event),
                    CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode),
                    CGEventGetIntegerValueField(event, kCGKeyboardEventAutorepeat)});
    stopAsked = stopAfterEach;
    return event;
}

int openDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

class DeviceTap : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XKB_DEFAULT_RULES", "XKB_DEFAULT_MODEL", "XKB_DEFAULT_LAYOUT",
                                 "XKB_DEFAULT_VARIANT", "XKB_DEFAULT_OPTIONS"}) {
            unsetenv(name);
        }
        seen.clear();
        stopAfterEach = false;
        stopAsked = false;
        descriptorsBefore = openDescriptors();
        ::testing::internal::CaptureStderr();
    }

    // Nothing was printed, nothing grabbed, and the tap's last release let go of every object and
    // descriptor it had.
    void TearDown() override {
        if (tap != nullptr) {
            CFRelease(tap);
        }
        EXPECT_EQ(cfcore::liveObjects(), 0u);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(tree.grabbed()) << "a device was grabbed";
        tree.endAll();
        EXPECT_EQ(openDescriptors(), descriptorsBefore);
    }

    void start() {
        tap =
            xdesk::createDeviceTap(tree.folder().c_str(),
                                   CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp) |
                                       CGEventMaskBit(kCGEventFlagsChanged),
                                   &take, nullptr);
        ASSERT_NE(tap, nullptr);
    }

    cfcore::PortObject& port() const {
        return *cfcore::lookupAs<cfcore::PortObject>(tap, cfcore::machPortTypeId, "test");
    }

    // Serves the tap as the run loop does, until nothing is left: its descriptor is ready, or it
    // has read ahead. Everything the test wrote has arrived by then.
    void serve() {
        for (;;) {
            pollfd ready{port().descriptor(), POLLIN, 0};
            if (poll(&ready, 1, 0) <= 0 && !port().hasReadAhead()) {
                return;
            }
            stopAsked = false;
            port().serve(&stopRequested);
        }
    }

    // The events delivered since the last call.
    std::vector<Seen> taken() {
        serve();
        return std::exchange(seen, {});
    }

    fakeinput::Tree tree;
    CFMachPortRef tap = nullptr;
    int descriptorsBefore = 0;
};

// ---- Keys and flags -----------------------------------------------------------------------------

struct ModifierCase {
    unsigned code;
    int64_t macKeyCode;
    CGEventFlags flags;
};

TEST_F(DeviceTap, EachModifierKeyGivesItsOwnKindAndSide) {
    const ModifierCase cases[] = {
        {KEY_LEFTALT, 58, leftOption},
        {KEY_RIGHTALT, 61, rightOption},
        {KEY_LEFTSHIFT, 56, kCGEventFlagMaskShift | 0x02},
        {KEY_RIGHTSHIFT, 60, kCGEventFlagMaskShift | 0x04},
        {KEY_LEFTCTRL, 59, kCGEventFlagMaskControl | 0x01},
        {KEY_RIGHTCTRL, 62, kCGEventFlagMaskControl | 0x2000},
        {KEY_LEFTMETA, 55, kCGEventFlagMaskCommand | 0x08},
        {KEY_RIGHTMETA, 54, kCGEventFlagMaskCommand | 0x10},
    };
    tree.add("event0", keyboardKeys());
    start();
    for (const ModifierCase& modifier : cases) {
        SCOPED_TRACE(modifier.code);
        tree.send("event0", key(modifier.code, 1));
        tree.send("event0", key(KEY_SPACE, 1));
        tree.send("event0", key(KEY_SPACE, 0));
        tree.send("event0", key(modifier.code, 0));
        EXPECT_EQ(taken(), (std::vector<Seen>{flagsChanged(modifier.macKeyCode, modifier.flags),
                                              keyDown(macSpace, modifier.flags),
                                              keyUp(macSpace, modifier.flags),
                                              flagsChanged(modifier.macKeyCode, 0)}));
    }
    // Both sides of a kind held: the kind's bit stays until the second is released.
    for (unsigned code : {KEY_LEFTALT, KEY_RIGHTALT}) {
        tree.send("event0", key(code, 1));
    }
    tree.send("event0", key(KEY_LEFTALT, 0));
    tree.send("event0", key(KEY_RIGHTALT, 0));
    EXPECT_EQ(taken(), (std::vector<Seen>{optionDown(), flagsChanged(61, leftOption | rightOption),
                                          flagsChanged(58, rightOption), flagsChanged(61, 0)}));
}

TEST_F(DeviceTap, AnAutoRepeatIsNoFreshPress) {
    tree.add("event0", keyboardKeys());
    start();
    // The kernel repeats a held key with value 2; a held modifier's repeats change nothing.
    tree.send("event0", key(KEY_LEFTALT, 1));
    tree.send("event0", key(KEY_LEFTALT, 2));
    tree.send("event0", key(KEY_SPACE, 1));
    tree.send("event0", key(KEY_SPACE, 2));
    tree.send("event0", key(KEY_SPACE, 2));
    tree.send("event0", key(KEY_SPACE, 0));
    tree.send("event0", key(KEY_LEFTALT, 2));
    tree.send("event0", key(KEY_LEFTALT, 0));
    EXPECT_EQ(taken(),
              (std::vector<Seen>{optionDown(), keyDown(macSpace, leftOption),
                                 keyDown(macSpace, leftOption, 1), keyDown(macSpace, leftOption, 1),
                                 keyUp(macSpace, leftOption), optionUp()}));
}

TEST_F(DeviceTap, KeysHeldWhenTheTapStartsCountWithoutAnEvent) {
    // Option and the space bar held before the start: the first event carries Option, and the
    // next press of the space bar is a repeat.
    tree.add("event0", keyboardKeys(), {KEY_LEFTALT, KEY_SPACE});
    start();
    EXPECT_EQ(taken(), std::vector<Seen>{});
    tree.send("event0", key(KEY_SPACE, 1));
    tree.send("event0", key(KEY_B, 1));
    EXPECT_EQ(taken(),
              (std::vector<Seen>{keyDown(macSpace, leftOption, 1), keyDown(macB, leftOption)}));
}

TEST_F(DeviceTap, TwoKeyboardsHoldTheUnionOfTheirModifiers) {
    tree.add("event0", keyboardKeys());
    tree.add("event1", keyboardKeys());
    start();
    tree.send("event0", key(KEY_LEFTALT, 1));
    EXPECT_EQ(taken(), std::vector<Seen>{optionDown()});
    // The space bar on the other keyboard carries the first one's Option.
    tree.send("event1", key(KEY_SPACE, 1));
    tree.send("event1", key(KEY_SPACE, 0));
    EXPECT_EQ(taken(),
              (std::vector<Seen>{keyDown(macSpace, leftOption), keyUp(macSpace, leftOption)}));
    // The same key pressed and released on the second keyboard leaves it held on the first.
    tree.send("event1", key(KEY_LEFTALT, 1));
    tree.send("event1", key(KEY_LEFTALT, 0));
    EXPECT_EQ(taken(), (std::vector<Seen>{optionDown(), optionDown()}));
    // A key held on one keyboard and pressed on the other is a repeat.
    tree.send("event0", key(KEY_SPACE, 1));
    tree.send("event1", key(KEY_SPACE, 1));
    tree.send("event0", key(KEY_LEFTALT, 0));
    EXPECT_EQ(taken(), (std::vector<Seen>{keyDown(macSpace, leftOption),
                                          keyDown(macSpace, leftOption, 1), optionUp()}));
}

// ---- Devices that come and go -------------------------------------------------------------------

TEST_F(DeviceTap, OnlyKeyboardsAreRead) {
    struct Device {
        const char* name;
        std::set<unsigned> keys;
    };
    const Device devices[] = {
        {"event0", {BTN_LEFT, BTN_RIGHT}},        // a mouse
        {"event1", {KEY_POWER}},                  // a power button
        {"event2", {KEY_BRIGHTNESSUP, KEY_MUTE}}, // a laptop's hot keys
        {"keyboard", keyboardKeys()},             // not a name the kernel gives
        {"event5", {KEY_SPACE, KEY_B}},           // a keyboard, even a small one
    };
    for (const Device& device : devices) {
        tree.add(device.name, device.keys);
    }
    tree.add("event3", {}); // sends no keys at all
    tree.addFile("event4"); // not a device
    start();
    // Each sends a key it has; only the keyboard's is heard.
    for (const Device& device : devices) {
        tree.send(device.name, key(*device.keys.begin(), 1));
    }
    EXPECT_EQ(taken(), std::vector<Seen>{keyDown(macB, 0)});
}

struct EndCase {
    const char* how;
    void (*end)(fakeinput::Tree&, const std::string&);
};

// A device ends while a key is held on it: its last events are taken, its keys are released, and
// the tap goes on with the others, and without any.
TEST_F(DeviceTap, ADeviceThatEndsIsDroppedWithItsKeysAndTheTapGoesOn) {
    const EndCase cases[] = {
        {"its records end", [](fakeinput::Tree& t, const std::string& name) { t.end(name); }},
        {"its node goes", [](fakeinput::Tree& t, const std::string& name) { t.remove(name); }},
    };
    int number = 0;
    for (const EndCase& ending : cases) {
        SCOPED_TRACE(ending.how);
        const std::string first = "event" + std::to_string(number++);
        const std::string second = "event" + std::to_string(number++);
        tree.add(first, keyboardKeys());
        tree.add(second, keyboardKeys());
        if (tap == nullptr) {
            start();
        } else {
            EXPECT_EQ(taken(), std::vector<Seen>{}); // found through the folder's watch
        }
        tree.send(first, key(KEY_LEFTALT, 1));
        tree.send(first, key(KEY_SPACE, 1));
        ending.end(tree, first);
        tree.send(second, key(KEY_B, 1));
        tree.send(second, key(KEY_B, 0));
        EXPECT_EQ(taken(),
                  (std::vector<Seen>{optionDown(), keyDown(macSpace, leftOption), optionUp(),
                                     keyUp(macSpace, 0), keyDown(macB, 0), keyUp(macB, 0)}));
        ending.end(tree, second);
        EXPECT_EQ(taken(), std::vector<Seen>{});
    }
}

// Permissions stop every user but root: the tests of access run as another user, in a process of
// their own. Exits with 2 when the user cannot be changed.
void becomeAnotherUser() {
    const uid_t nobody = 65534;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                           setresuid(nobody, nobody, nobody) != 0)) {
        std::exit(2);
    }
}

struct AccessCase {
    const char* folder;
    bool readable;
    void (*make)(fakeinput::Tree&);
};

TEST(DeviceAccess, AKeyboardIsReadableOnlyWhenOneCanBeOpened) {
    const AccessCase cases[] = {
        {"no folder", false, nullptr},
        {"an empty folder", false, [](fakeinput::Tree&) {}},
        {"a mouse and a file", false,
         [](fakeinput::Tree& t) {
             t.add("event0", {BTN_LEFT});
             t.addFile("event1");
         }},
        {"a keyboard", true, [](fakeinput::Tree& t) { t.add("event0", keyboardKeys()); }},
        {"a keyboard not for this user", false,
         [](fakeinput::Tree& t) { t.add("event0", keyboardKeys(), {}, 0600); }},
        {"one keyboard of two for this user", true,
         [](fakeinput::Tree& t) {
             t.add("event0", keyboardKeys(), {}, 0600);
             t.add("event1", keyboardKeys(), {}, 0644);
         }},
    };
    for (const AccessCase& access : cases) {
        SCOPED_TRACE(access.folder);
        fakeinput::Tree tree;
        if (access.make != nullptr) {
            access.make(tree);
        }
        const std::string folder = tree.folder() + (access.make != nullptr ? "" : "/none");
        EXPECT_EXIT(
            {
                becomeAnotherUser();
                std::exit(xdesk::keyboardReadable(folder.c_str()) ? 10 : 11);
            },
            ::testing::ExitedWithCode(access.readable ? 10 : 11), "");
    }
}

// udev gives a new device to the user only after the kernel has made its node: the node appears
// unreadable and becomes readable a moment later. A rule that gives the keyboards to whoever is
// logged in at the machine takes them back when another user's session comes to the front.
TEST_F(DeviceTap, AKeyboardIsReadWhileTheUserMayReadIt) {
    static_cast<void>(::testing::internal::GetCapturedStderr()); // the death test captures its own
    EXPECT_EXIT(
        {
            becomeAnotherUser();
            { // the folder goes before the process exits
                fakeinput::Tree mine;
                mine.add("event0", keyboardKeys(), {}, 0);
                tap = xdesk::createDeviceTap(mine.folder().c_str(),
                                             CGEventMaskBit(kCGEventKeyDown) |
                                                 CGEventMaskBit(kCGEventKeyUp),
                                             &take, nullptr);
                mine.send("event0", key(KEY_B, 1));
                EXPECT_EQ(taken(), std::vector<Seen>{});
                mine.chmod("event0", 0644);
                mine.send("event0", key(KEY_SPACE, 1));
                // What it sent before it could be read is read now too: it was in its buffer.
                EXPECT_EQ(taken(), (std::vector<Seen>{keyDown(macB, 0), keyDown(macSpace, 0)}));
                // Taken back (another user's session in front): dropped, its keys released, and
                // nothing heard until it is given back.
                mine.chmod("event0", 0);
                mine.send("event0", key(KEY_ENTER, 1));
                EXPECT_EQ(taken(), (std::vector<Seen>{keyUp(macB, 0), keyUp(macSpace, 0)}));
                mine.chmod("event0", 0644);
                mine.send("event0", key(KEY_SPACE, 0));
                EXPECT_EQ(taken(), std::vector<Seen>{keyUp(macSpace, 0)});
            }
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    ::testing::internal::CaptureStderr();
}

// ---- Lost events and a busy run loop ------------------------------------------------------------

TEST_F(DeviceTap, LostEventsAreMadeGoodFromTheKeyboardsState) {
    tree.add("event0", keyboardKeys());
    start();
    tree.send("event0", key(KEY_LEFTALT, 1));
    EXPECT_EQ(taken(), std::vector<Seen>{optionDown()});
    // Meanwhile Option was released and the space bar pressed, and the kernel's buffer overflowed:
    // it says so, and what is still in the buffer belongs to the loss.
    tree.hold("event0", {KEY_SPACE});
    std::vector<input_event> records{record(EV_SYN, SYN_DROPPED, 0)};
    for (const input_event& stale : key(KEY_B, 1)) {
        records.push_back(stale);
    }
    tree.send("event0", records);
    EXPECT_EQ(taken(), (std::vector<Seen>{optionUp(), keyDown(macSpace, 0)}));
    tree.send("event0", key(KEY_SPACE, 0));
    EXPECT_EQ(taken(), std::vector<Seen>{keyUp(macSpace, 0)});
}

// A flood of keys gives the run loop's other sources their turn, and a callback that stops the
// run loop leaves the rest for the next pass: nothing is lost or reordered.
TEST_F(DeviceTap, EventsLeftForTheNextPassKeepTheirOrder) {
    tree.add("event0", keyboardKeys());
    tree.add("event1", keyboardKeys());
    start();
    std::vector<input_event> records;
    std::vector<Seen> expected;
    for (int i = 0; i < 300; ++i) {
        records.push_back(record(EV_MSC, MSC_SCAN, 0x39));
        records.push_back(record(EV_KEY, KEY_SPACE, i % 2 == 0 ? 1 : 0));
        records.push_back(record(EV_SYN, SYN_REPORT, 0));
        expected.push_back(i % 2 == 0 ? keyDown(macSpace, 0) : keyUp(macSpace, 0));
    }
    tree.send("event0", records);
    tree.send("event1", key(KEY_B, 1));
    expected.push_back(keyDown(macB, 0));
    pollfd ready{port().descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 0), 1);
    port().serve(&stopRequested);
    EXPECT_LT(seen.size(), expected.size()) << "one pass delivered all of a flood";
    EXPECT_TRUE(port().hasReadAhead());
    EXPECT_EQ(taken(), expected);

    stopAfterEach = true;
    tree.send("event0", key(KEY_SPACE, 1));
    tree.send("event0", key(KEY_SPACE, 0));
    port().serve(&stopRequested);
    EXPECT_EQ(seen, std::vector<Seen>{keyDown(macSpace, 0)});
    EXPECT_TRUE(port().hasReadAhead());
    EXPECT_EQ(taken(), (std::vector<Seen>{keyDown(macSpace, 0), keyUp(macSpace, 0)}));
}

// ---- Keymap -------------------------------------------------------------------------------------

struct KeymapCase {
    const char* variable;
    const char* value;
    Seen leftAlt;
};

// The modifier keys are those of the session's default keymap: the keymap decides, not the key's
// number. A keymap that cannot be made falls back to the built-in one, silently.
TEST_F(DeviceTap, TheDefaultKeymapNamesTheModifiers) {
    const KeymapCase cases[] = {
        {"XKB_DEFAULT_OPTIONS", "altwin:swap_alt_win",
         flagsChanged(55, kCGEventFlagMaskCommand | 0x08)},
        {"XKB_DEFAULT_LAYOUT", "no-such-layout", optionDown()},
    };
    tree.add("event0", keyboardKeys());
    for (const KeymapCase& keymap : cases) {
        SCOPED_TRACE(keymap.value);
        setenv(keymap.variable, keymap.value, 1);
        ASSERT_NO_FATAL_FAILURE(start());
        unsetenv(keymap.variable);
        tree.send("event0", key(KEY_LEFTALT, 1));
        tree.send("event0", key(KEY_LEFTALT, 0));
        EXPECT_EQ(taken(),
                  (std::vector<Seen>{keymap.leftAlt, flagsChanged(keymap.leftAlt.keycode, 0)}));
        CFRelease(tap);
        tap = nullptr;
    }
}

} // namespace
