#include "gripwell/decision.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace gripwell {
namespace {

// Device-dependent and non-coalesced bits that real flags-changed events carry along.
constexpr CGEventFlags leftControl = 0x1, leftShift = 0x2, leftOption = 0x20, rightOption = 0x40;
constexpr CGEventFlags nonCoalesced = kCGEventFlagMaskNonCoalesced;
constexpr CGEventFlags option = kCGEventFlagMaskAlternate, shift = kCGEventFlagMaskShift,
                       control = kCGEventFlagMaskControl;

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

// The lines of a sequence, with "<reenable>" wherever the decision asks for the tap back.
std::string linesFor(const std::vector<KeyEvent>& events, CGEventFlags mask) {
    HoldState state{mask, false};
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
    CGEventFlags mask = kCGEventFlagMaskAlternate;
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
        {"control watched, option ignored",
         {flags(option | leftOption), key(49, option), flags(control | leftControl),
          key(49, control), flags(0)},
         "down\ncombo_space\nup\n",
         control},
        {"notices ask for the tap back, write nothing and keep the state",
         {ofType(kCGEventTapDisabledByUserInput), flags(option),
          ofType(kCGEventTapDisabledByTimeout), key(49, option),
          ofType(kCGEventTapDisabledByUserInput), flags(0)},
         "<reenable>\ndown\n<reenable>\ncombo_space\n<reenable>\nup\n"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        EXPECT_EQ(linesFor(scenario.events, scenario.mask), scenario.lines);
    }
}

// A random session: flags changes of the watched and other modifiers with device bits, space and
// other key-downs with random repeat marks, key-ups, notices and stray types.
KeyEvent randomEvent(std::mt19937_64& random) {
    auto pick = [&random](uint64_t n) { return static_cast<int64_t>(random() % n); };
    const CGEventType rare[] = {kCGEventKeyUp, kCGEventTapDisabledByTimeout,
                                kCGEventTapDisabledByUserInput, static_cast<CGEventType>(pick(30))};
    CGEventType type = pick(5) == 0  ? rare[pick(4)]
                       : pick(5) < 3 ? kCGEventFlagsChanged
                                     : kCGEventKeyDown;
    // Any of the six modifier flags, device-dependent bits and the non-coalesced bit.
    CGEventFlags value = random() & 0x9F21FF;
    return {type, value, pick(3) == 0 ? pick(128) : spaceKeyCode, pick(2)};
}

TEST(Decision, RandomSessionsKeepTheOrderingRules) {
    const CGEventFlags masks[] = {kCGEventFlagMaskAlternate, kCGEventFlagMaskControl,
                                  kCGEventFlagMaskShift, kCGEventFlagMaskCommand,
                                  kCGEventFlagMaskSecondaryFn};
    for (uint64_t seed : {1u, 2u, 3u, 0x5EEDu, 20261206u}) {
        for (CGEventFlags mask : masks) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " mask " + std::to_string(mask));
            std::mt19937_64 random(seed);
            HoldState state{mask, false};
            bool held = false;                  // between a "down" and an "up"
            bool watchedBitInLastFlags = false; // from the last flags-changed event
            std::size_t downs = 0, combos = 0;
            for (int i = 0; i < 20000; ++i) {
                KeyEvent event = randomEvent(random);
                Decision decision = decide(event, state);
                state = decision.state;
                if (event.type == kCGEventFlagsChanged) {
                    watchedBitInLastFlags = (event.flags & mask) != 0;
                }
                ASSERT_EQ(state.isDown, watchedBitInLastFlags);
                ASSERT_EQ(decision.reenableTap, event.type == kCGEventTapDisabledByTimeout ||
                                                    event.type == kCGEventTapDisabledByUserInput);
                if (decision.line == Line::down || decision.line == Line::up) {
                    ASSERT_EQ(held, decision.line == Line::up) << "down and up must alternate";
                    held = !held;
                    downs += held;
                } else if (decision.line == Line::comboSpace) {
                    ASSERT_TRUE(held) << "combo_space outside down/up";
                    ASSERT_EQ(event.keycode, spaceKeyCode);
                    ASSERT_EQ(event.autorepeat, 0);
                    ++combos;
                } else {
                    ASSERT_FALSE(decision.line) << "the decision wrote a start-up line";
                }
            }
            // The sequences must actually exercise the rules.
            EXPECT_GT(downs, 100u);
            EXPECT_GT(combos, 100u);
        }
    }
}

} // namespace
} // namespace gripwell
