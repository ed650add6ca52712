#include "gripwell/decision.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace gripwell {

void PrintTo(Line line, std::ostream* out) {
    *out << '"' << lineBytes(line).substr(0, lineBytes(line).size() - 1) << '"';
}

namespace {

// Device-dependent and non-coalesced bits that real flags-changed events carry along.
constexpr CGEventFlags leftOption = 0x20;
constexpr CGEventFlags rightOption = 0x40;
constexpr CGEventFlags leftShift = 0x2;
constexpr CGEventFlags leftControl = 0x1;
constexpr CGEventFlags nonCoalesced = kCGEventFlagMaskNonCoalesced;
constexpr CGEventFlags option = kCGEventFlagMaskAlternate;
constexpr CGEventFlags shift = kCGEventFlagMaskShift;
constexpr CGEventFlags control = kCGEventFlagMaskControl;

KeyEvent flags(CGEventFlags value) {
    return {kCGEventFlagsChanged, value, 0, 0};
}
KeyEvent key(int64_t keycode, CGEventFlags value = 0) {
    return {kCGEventKeyDown, value, keycode, 0};
}
KeyEvent repeat(int64_t keycode, CGEventFlags value = 0) {
    return {kCGEventKeyDown, value, keycode, 1};
}
KeyEvent keyUp(int64_t keycode, CGEventFlags value = 0) {
    return {kCGEventKeyUp, value, keycode, 0};
}
KeyEvent notice(CGEventType type) {
    return {type, 0, 0, 0};
}

std::string linesFor(const std::vector<KeyEvent>& events, CGEventFlags mask) {
    HoldState state{mask, false};
    std::string out;
    for (const KeyEvent& event : events) {
        Decision decision = decide(event, state);
        state = decision.state;
        if (decision.line) {
            out += lineBytes(*decision.line);
        }
    }
    return out;
}

struct Scenario {
    const char* name;
    CGEventFlags mask;
    std::vector<KeyEvent> events;
    const char* lines;
};

TEST(Decision, EventSequences) {
    const Scenario scenarios[] = {
        {"press and release with device bits",
         option,
         {flags(option | leftOption | nonCoalesced), flags(nonCoalesced)},
         "down\nup\n"},
        {"three separate space presses",
         option,
         {flags(option | leftOption), key(49, option), keyUp(49), key(49, option), keyUp(49),
          key(49, option | shift), flags(0)},
         "down\ncombo_space\ncombo_space\ncombo_space\nup\n"},
        {"space held auto-repeating gives one line",
         option,
         {flags(option | leftOption), key(49, option), repeat(49, option), repeat(49, option),
          flags(0)},
         "down\ncombo_space\nup\n"},
        {"space held before the modifier gives none",
         option,
         {key(49), repeat(49), flags(option | leftOption), repeat(49, option), repeat(49, option),
          flags(0)},
         "down\nup\n"},
        {"other modifier while held gives no line",
         option,
         {flags(option | leftOption), flags(option | leftOption | shift | leftShift),
          flags(option | leftOption), flags(0)},
         "down\nup\n"},
        {"other keys while held give no line",
         option,
         {flags(option | leftOption), key(48, option), key(0, option), key(50, option),
          key(-49, option), flags(0)},
         "down\nup\n"},
        {"space after up gives nothing",
         option,
         {flags(option), flags(0), key(49), key(49, option)},
         "down\nup\n"},
        {"space key-down flags do not count without a flags change",
         option,
         {key(49, option | leftOption)},
         ""},
        {"modifier already held at start shows on the next flags change",
         option,
         {key(49, option), flags(option | leftOption | shift), flags(option | leftOption)},
         "down\n"},
        {"left and right held: up only after the second release",
         option,
         {flags(option | leftOption), flags(option | leftOption | rightOption),
          flags(option | rightOption), flags(nonCoalesced)},
         "down\nup\n"},
        {"same state reported again",
         option,
         {flags(option), flags(option), flags(0), flags(0)},
         "down\nup\n"},
        {"control watched, option ignored",
         control,
         {flags(option | leftOption), key(49, option), flags(control | leftControl),
          key(49, control), flags(0)},
         "down\ncombo_space\nup\n"},
        {"any non-zero auto-repeat mark is a repeat",
         option,
         {flags(option), {kCGEventKeyDown, option, 49, 2}, {kCGEventKeyDown, option, 49, -1}},
         "down\n"},
        {"key up and unknown types are ignored",
         option,
         {flags(option),
          keyUp(49, option),
          {kCGEventNull, option, 49, 0},
          {kCGEventLeftMouseDown, 0, 49, 0},
          flags(0)},
         "down\nup\n"},
        {"notices write nothing and keep the state",
         option,
         {flags(option), notice(kCGEventTapDisabledByTimeout), key(49, option),
          notice(kCGEventTapDisabledByUserInput), flags(0)},
         "down\ncombo_space\nup\n"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        EXPECT_EQ(linesFor(scenario.events, scenario.mask), scenario.lines);
    }
}

TEST(Decision, NoticesAskForTheTapBackAndKeepTheState) {
    for (bool isDown : {false, true}) {
        for (CGEventType type : {kCGEventTapDisabledByTimeout, kCGEventTapDisabledByUserInput}) {
            Decision decision = decide(notice(type), HoldState{option, isDown});
            EXPECT_TRUE(decision.reenableTap);
            EXPECT_FALSE(decision.line);
            EXPECT_EQ(decision.state.isDown, isDown);
        }
        for (const KeyEvent& event : {flags(option), flags(0), key(49), repeat(49), keyUp(49)}) {
            EXPECT_FALSE(decide(event, HoldState{option, isDown}).reenableTap);
        }
    }
}

// A random session: mostly flags changes of the watched and other modifiers with device bits,
// space and other key-downs with random repeat marks, key-ups, notices and stray types.
KeyEvent randomEvent(std::mt19937_64& random) {
    static const CGEventFlags modifierBits[] = {
        kCGEventFlagMaskAlternate, kCGEventFlagMaskShift,       kCGEventFlagMaskControl,
        kCGEventFlagMaskCommand,   kCGEventFlagMaskSecondaryFn, kCGEventFlagMaskAlphaShift};
    auto pick = [&random](uint64_t n) { return random() % n; };
    CGEventFlags value = random() & 0x21FF; // device-dependent and non-coalesced bits
    for (CGEventFlags bit : modifierBits) {
        if (pick(2) == 0) {
            value |= bit;
        }
    }
    switch (pick(10)) {
    case 0:
    case 1:
    case 2:
    case 3:
        return flags(value);
    case 4:
    case 5:
        return {kCGEventKeyDown, value, 49, static_cast<int64_t>(pick(2))};
    case 6:
        return {kCGEventKeyDown, value, static_cast<int64_t>(pick(128)), 0};
    case 7:
        return keyUp(static_cast<int64_t>(pick(128)), value);
    case 8:
        return notice(pick(2) ? kCGEventTapDisabledByTimeout : kCGEventTapDisabledByUserInput);
    default:
        return {static_cast<CGEventType>(pick(30)), value, 49, 0};
    }
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
            std::optional<Line> lastEdge;       // the last "down" or "up"
            bool watchedBitInLastFlags = false; // from the last flags-changed event
            std::size_t downs = 0, combos = 0;
            for (int i = 0; i < 20000; ++i) {
                KeyEvent event = randomEvent(random);
                Decision decision = decide(event, state);
                state = decision.state;
                if (event.type == kCGEventFlagsChanged) {
                    watchedBitInLastFlags = (event.flags & mask) != 0;
                }
                ASSERT_EQ(state.isDown, watchedBitInLastFlags) << "at event " << i;
                if (!decision.line) {
                    continue;
                }
                switch (*decision.line) {
                case Line::down:
                    ASSERT_NE(lastEdge, Line::down) << "down twice, at event " << i;
                    lastEdge = Line::down;
                    ++downs;
                    break;
                case Line::up:
                    ASSERT_EQ(lastEdge, Line::down) << "up without down, at event " << i;
                    lastEdge = Line::up;
                    break;
                case Line::comboSpace:
                    ASSERT_EQ(lastEdge, Line::down) << "combo_space outside down/up, at " << i;
                    ASSERT_EQ(event.keycode, spaceKeyCode);
                    ASSERT_EQ(event.autorepeat, 0);
                    ++combos;
                    break;
                default:
                    FAIL() << "the decision wrote a start-up line";
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
