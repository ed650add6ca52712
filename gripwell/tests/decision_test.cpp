#include "gripwell/decision.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gripwell {
namespace {

// Device-dependent and non-coalesced bits that real flags-changed events carry along.
constexpr CGEventFlags leftShift = 0x2, leftOption = 0x20, rightOption = 0x40;
constexpr CGEventFlags nonCoalesced = kCGEventFlagMaskNonCoalesced;
constexpr CGEventFlags option = kCGEventFlagMaskAlternate, shift = kCGEventFlagMaskShift;

KeyEvent flags(CGEventFlags value) {
    return {kCGEventFlagsChanged, value, 0, 0};
}
KeyEvent key(int64_t keycode, CGEventFlags value = 0, int64_t autorepeat = 0) {
    return {kCGEventKeyDown, value, keycode, autorepeat};
}
// An event of another type that would count if it were a flags change or a key-down.
KeyEvent ofType(CGEventType type) {
    return {type, kCGEventFlagMaskAlternate, spaceKeyCode, 0};
}

// The lines of a sequence with option watched, and "<reenable>" wherever the decision asks for
// the tap back.
std::string linesFor(const std::vector<KeyEvent>& events) {
    HoldState state{option, false};
    std::string out;
    for (const KeyEvent& event : events) {
        Decision decision = decide(event, state);
        state = decision.state;
        if (decision.line) {
            out += lineBytes(*decision.line);
        }
        if (decision.reenableTap) {
            out += "<reenable>\n";
        }
    }
    return out;
}

struct Scenario {
    const char* name;
    std::vector<KeyEvent> events;
    const char* lines;
};

TEST(Decision, EventSequences) {
    const Scenario scenarios[] = {
        {"separate space presses, whatever the key-down's flags",
         {flags(option | leftOption), key(49, option), key(49), key(49, option | shift), flags(0)},
         "down\ncombo_space\ncombo_space\ncombo_space\nup\n"},
        {"any non-zero auto-repeat mark is a repeat",
         {flags(option | leftOption), key(49, option), key(49, option, 1), key(49, option, 2),
          key(49, option, -1), flags(0)},
         "down\ncombo_space\nup\n"},
        {"device bits, other modifiers, the other key of the pair: up once all are released",
         {flags(option | leftOption), flags(option | leftOption | shift | leftShift),
          flags(option | leftOption | rightOption), flags(option | rightOption),
          flags(nonCoalesced)},
         "down\nup\n"},
        {"other keys, key-ups and other types while held give no line",
         {flags(option | leftOption), key(48, option), key(50, option), key(-49, option),
          ofType(kCGEventKeyUp), ofType(kCGEventNull), ofType(kCGEventLeftMouseDown), flags(0)},
         "down\nup\n"},
        {"a key-down's own flags do not make the modifier held",
         {key(49, option | leftOption), flags(option), flags(0), key(49, option)},
         "down\nup\n"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        EXPECT_EQ(linesFor(scenario.events), scenario.lines);
    }
}

} // namespace
} // namespace gripwell
