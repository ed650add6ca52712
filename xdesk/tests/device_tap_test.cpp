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
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using fakeinput::key;
using fakeinput::keyboardKeys;
using fakeinput::record;

// What a Mac's tap callback reads of an event: type, flags, key code, auto-repeat.
using Seen = std::tuple<CGEventType, CGEventFlags, int64_t, int64_t>;

// The Mac's values: virtual key codes (kVK_*), and the flags of each modifier kind with the
// device-dependent bit of its side.
constexpr int64_t macSpace = 49;
constexpr int64_t macB = 11;
constexpr CGEventFlags leftOption = kCGEventFlagMaskAlternate | 0x20;

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

// ---- Keys held and devices that go -------------------------------------------------------------

// What each key gives, auto-repeats, the union of several keyboards, a keyboard that ends and the
// events lost in the kernel are what the process tests show (gripwell_devices_test.py). Keys held
// before the start count from the start, on any keyboard: the first event carries Option, and a
// press of the space bar held elsewhere is a repeat.
TEST_F(DeviceTap, KeysHeldWhenTheTapStartsCountWithoutAnEvent) {
    tree.add("event0", keyboardKeys(), {KEY_LEFTALT, KEY_SPACE});
    tree.add("event1", keyboardKeys());
    start();
    EXPECT_EQ(taken(), std::vector<Seen>{});
    tree.send("event1", key(KEY_SPACE, 1));
    tree.send("event0", key(KEY_B, 1));
    EXPECT_EQ(taken(),
              (std::vector<Seen>{keyDown(macSpace, leftOption, 1), keyDown(macB, leftOption)}));
}

// A device whose node goes while keys are held on it: what it sent before is taken, then its keys
// are released, and the tap goes on with the other keyboard.
TEST_F(DeviceTap, ADeviceWhoseNodeGoesIsDroppedWithItsKeysAndTheTapGoesOn) {
    tree.add("event0", keyboardKeys());
    tree.add("event1", keyboardKeys());
    start();
    tree.send("event0", key(KEY_LEFTALT, 1));
    tree.send("event0", key(KEY_SPACE, 1));
    tree.remove("event0");
    tree.send("event1", key(KEY_B, 1));
    tree.send("event1", key(KEY_B, 0));
    EXPECT_EQ(taken(), (std::vector<Seen>{optionDown(), keyDown(macSpace, leftOption), optionUp(),
                                          keyUp(macSpace, 0), keyDown(macB, 0), keyUp(macB, 0)}));
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

// No folder, a folder without keyboards and one whose keyboards this user may not read are the
// process tests' to show; these are the devices that are not keyboards and the keyboards that are.
TEST(DeviceAccess, AKeyboardIsReadableOnlyWhenOneCanBeOpened) {
    const AccessCase cases[] = {
        {"devices that are no keyboard", false,
         [](fakeinput::Tree& t) {
             t.add("event0", {BTN_LEFT, BTN_RIGHT});        // a mouse
             t.add("event1", {KEY_POWER});                  // a power button
             t.add("event2", {KEY_BRIGHTNESSUP, KEY_MUTE}); // a laptop's hot keys
             t.add("event3", {});                           // sends no keys at all
             t.add("keyboard", keyboardKeys());             // not a name the kernel gives
             t.addFile("event4");                           // not a device
         }},
        {"a small keyboard", true,
         [](fakeinput::Tree& t) {
             t.add("event5", {KEY_SPACE, KEY_B});
         }},
        {"one keyboard of two for this user", true,
         [](fakeinput::Tree& t) {
             t.add("event0", keyboardKeys(), {}, 0600);
             t.add("event1", keyboardKeys(), {}, 0644);
         }},
    };
    for (const AccessCase& access : cases) {
        SCOPED_TRACE(access.folder);
        fakeinput::Tree tree;
        access.make(tree);
        const std::string folder = tree.folder();
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

// ---- A busy run loop ----------------------------------------------------------------------------

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
        EXPECT_EQ(taken(), (std::vector<Seen>{keymap.leftAlt,
                                              flagsChanged(std::get<2>(keymap.leftAlt), 0)}));
        CFRelease(tap);
        tap = nullptr;
    }
}

} // namespace
