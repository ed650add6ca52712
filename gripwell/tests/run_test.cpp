// Whole runs of gripwell in a child process against the simulated session: what the host sees
// (standard output, standard error, exit status) and what the tool did to the platform.
#include "gripwell/gripwell.h"

#include <macsim/child.h>
#include <macsim/control.h>
#include <macsim/tap.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace gripwell {
namespace {

using macsim::SessionEvent;
using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr CGEventFlags option = kCGEventFlagMaskAlternate;
constexpr CGEventFlags control = kCGEventFlagMaskControl;
constexpr CGEventFlags shift = kCGEventFlagMaskShift;
constexpr CGEventFlags command = kCGEventFlagMaskCommand;
constexpr CGEventFlags fn = kCGEventFlagMaskSecondaryFn;
constexpr CGEventFlags nonCoalesced = kCGEventFlagMaskNonCoalesced;
// Device-dependent bits of the left and right keys, as real flags-changed events carry them.
constexpr CGEventFlags leftControl = 0x1, leftShift = 0x2, leftCommand = 0x8;
constexpr CGEventFlags leftOption = 0x20, rightOption = 0x40;
constexpr int64_t optionKey = 58, rightOptionKey = 61, controlKey = 59, shiftKey = 56;
constexpr int64_t commandKey = 55, fnKey = 63, space = 49;

// Gathered in the child at exit: what it asked of the platform and what its callback did. The
// run loop is torn down first, so that "live" lists only what the tool itself still holds.
std::string childReport() {
    json report;
    report["calls"] = macsim::callStrings();
    if (auto tap = macsim::createdTap()) {
        report["tap"] = {{"location", tap->location},
                         {"placement", tap->placement},
                         {"options", tap->options},
                         {"mask", tap->eventsOfInterest},
                         {"callback", reinterpret_cast<std::uintptr_t>(tap->callback)},
                         {"userInfo", reinterpret_cast<std::uintptr_t>(tap->userInfo)}};
    }
    json delivered = json::array();
    for (const macsim::DeliveredEvent& event : macsim::deliveredEvents()) {
        delivered.push_back({{"index", event.index},
                             {"unchanged", event.passedThroughUnchanged()},
                             {"tapEnabledAfter", event.tapEnabledAfter}});
    }
    report["delivered"] = delivered;
    report["enableCalls"] = macsim::tapEnableCalls();
    report["pending"] = macsim::pendingSessionEvents();
    macsim::tearDownRunLoop();
    report["live"] = macsim::liveObjectDescriptions();
    return report.dump();
}

struct Outcome {
    macsim::ChildResult child;
    json report;
};

Outcome finish(macsim::ChildResult child) {
    json report = json::parse(child.report, nullptr, false);
    return {std::move(child), std::move(report)};
}

Outcome runGripwell(std::vector<std::string> args, macsim::ChildOptions options = {}) {
    options.report = childReport;
    return finish(macsim::runChild([&args] { return run(args); }, options));
}

std::vector<std::string> strings(const json& value) {
    return value.get<std::vector<std::string>>();
}

void expectEveryEventPassedThrough(const json& report) {
    for (const json& event : report["delivered"]) {
        EXPECT_TRUE(event["unchanged"].get<bool>()) << "event " << event["index"];
    }
}

class Run : public ::testing::Test {
protected:
    // Also builds the simulation's state before the fork, so that the child's exit report finds
    // it alive.
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
    }
};

struct StartUpRow {
    const char* name;
    bool trusted;
    bool tapFails;
    bool sourceFails;
    const char* out;
    int status;
    std::vector<std::string> calls;
};

TEST_F(Run, StartUpFailureWritesItsOneLineAndStatus) {
    const StartUpRow rows[] = {
        {"not trusted",
         false,
         false,
         false,
         "error:accessibility_not_granted\n",
         1,
         {"AXIsProcessTrusted"}},
        {"not trusted, and no tap either",
         false,
         true,
         true,
         "error:accessibility_not_granted\n",
         1,
         {"AXIsProcessTrusted"}},
        {"tap refused",
         true,
         true,
         false,
         "error:event_tap_failed\n",
         2,
         {"AXIsProcessTrusted", "CGEventTapCreate session"}},
        {"source refused",
         true,
         false,
         true,
         "error:runloop_source_failed\n",
         3,
         {"AXIsProcessTrusted", "CGEventTapCreate session",
          "CFMachPortCreateRunLoopSource tap order 0"}},
    };
    for (const StartUpRow& row : rows) {
        SCOPED_TRACE(row.name);
        macsim::reset();
        macsim::desktop().trusted = row.trusted;
        macsim::failures().eventTapCreate = row.tapFails;
        macsim::failures().runLoopSourceCreate = row.sourceFails;
        macsim::scriptSessionEvents({macsim::flagsChanged(option | leftOption, optionKey)});
        Outcome outcome = runGripwell({"gripwell"});
        EXPECT_EQ(outcome.child.out, row.out);
        EXPECT_EQ(outcome.child.err, "");
        EXPECT_EQ(outcome.child.exitCode, row.status);
        ASSERT_FALSE(outcome.report.is_discarded());
        EXPECT_EQ(strings(outcome.report["calls"]), row.calls);
        EXPECT_THAT(outcome.report["delivered"], IsEmpty());
        EXPECT_THAT(strings(outcome.report["live"]), IsEmpty()) << "tap leaked";
    }
}

TEST_F(Run, TapIsAnActiveFilterAtTheHeadOfTheSession) {
    Outcome outcome = runGripwell({"gripwell"});
    EXPECT_EQ(outcome.child.out, "ready\n");
    EXPECT_EQ(outcome.child.err, "");
    EXPECT_EQ(outcome.child.exitCode, 0);
    ASSERT_TRUE(outcome.report.contains("tap"));
    const json& tap = outcome.report["tap"];
    EXPECT_EQ(tap["location"], kCGSessionEventTap);
    EXPECT_EQ(tap["placement"], kCGHeadInsertEventTap);
    EXPECT_EQ(tap["options"], kCGEventTapOptionDefault);
    EXPECT_EQ(tap["mask"], 0x1400u);
    EXPECT_EQ(tap["callback"], reinterpret_cast<std::uintptr_t>(&tapCallback));
    EXPECT_EQ(tap["userInfo"], 0u);
    // The source joins the run loop's common modes and the tap is enabled before "ready"; the
    // run loop's references are not the tool's to release.
    EXPECT_THAT(strings(outcome.report["calls"]),
                ElementsAre("AXIsProcessTrusted", "CGEventTapCreate session",
                            "CFMachPortCreateRunLoopSource tap order 0", "CFRunLoopGetCurrent",
                            "CFRunLoopAddSource run-loop kCFRunLoopCommonModes",
                            "CGEventTapEnable tap true", "CFRunLoopRun"));
    EXPECT_THAT(strings(outcome.report["live"]), IsEmpty());
}

struct SessionRow {
    const char* name;
    std::vector<std::string> args;
    std::vector<SessionEvent> events;
    const char* out;
};

TEST_F(Run, SessionsGiveExactLines) {
    using macsim::flagsChanged;
    using macsim::keyDown;
    using macsim::keyUp;
    const SessionRow rows[] = {
        {"no word watches option",
         {"gripwell"},
         {flagsChanged(option | leftOption | nonCoalesced, optionKey),
          keyDown(space, option | leftOption), keyDown(space, option | leftOption, true),
          keyUp(space, option | leftOption), keyDown(space, option | leftOption | shift),
          keyDown(0, option | leftOption), flagsChanged(nonCoalesced, optionKey), keyDown(space)},
         "ready\ndown\ncombo_space\ncombo_space\nup\n"},
        {"CONTROL watches control only",
         {"gripwell", "CONTROL"},
         {flagsChanged(option | leftOption, optionKey),
          flagsChanged(option | leftOption | control | leftControl, controlKey),
          keyDown(space, option | control), flagsChanged(option | leftOption, controlKey),
          flagsChanged(nonCoalesced, optionKey)},
         "ready\ndown\ncombo_space\nup\n"},
        {"words after the first are ignored",
         {"gripwell", "shift", "command"},
         {flagsChanged(command | leftCommand, commandKey), flagsChanged(0, commandKey),
          flagsChanged(shift | leftShift, shiftKey), flagsChanged(0, shiftKey)},
         "ready\ndown\nup\n"},
        {"unknown word watches option",
         {"gripwell", "cmd"},
         {flagsChanged(command | leftCommand, commandKey), flagsChanged(0, commandKey),
          flagsChanged(option | leftOption, optionKey)},
         "ready\ndown\n"},
        {"Fn watches fn",
         {"gripwell", "Fn"},
         {flagsChanged(fn, fnKey), keyDown(space, fn), flagsChanged(0, fnKey)},
         "ready\ndown\ncombo_space\nup\n"},
    };
    for (const SessionRow& row : rows) {
        SCOPED_TRACE(row.name);
        macsim::reset();
        macsim::desktop().trusted = true;
        macsim::scriptSessionEvents(row.events);
        Outcome outcome = runGripwell(row.args);
        EXPECT_EQ(outcome.child.out, row.out);
        EXPECT_EQ(outcome.child.err, "");
        EXPECT_EQ(outcome.child.exitCode, 0);
        ASSERT_FALSE(outcome.report.is_discarded());
        std::size_t ofInterest = 0;
        for (const SessionEvent& event : row.events) {
            ofInterest += event.type == kCGEventKeyDown || event.type == kCGEventFlagsChanged;
        }
        EXPECT_EQ(outcome.report["delivered"].size(), ofInterest);
        expectEveryEventPassedThrough(outcome.report);
        EXPECT_EQ(outcome.report["pending"], 0u);
        EXPECT_THAT(strings(outcome.report["live"]), IsEmpty());
    }
}

// A tap-disabled notice used to leave the tap off for good while the process lived on.
TEST_F(Run, TapDisabledNoticeIsAnsweredByReenablingTheTap) {
    macsim::scriptSessionEvents({
        macsim::flagsChanged(option | leftOption | nonCoalesced, optionKey),
        macsim::tapDisabledByTimeout(),
        macsim::keyDown(space, option | leftOption),
        macsim::flagsChanged(nonCoalesced, optionKey),
        macsim::tapDisabledByUserInput(),
        macsim::flagsChanged(option | rightOption, rightOptionKey),
        macsim::keyDown(space, option | rightOption),
    });
    Outcome outcome = runGripwell({"gripwell"});
    EXPECT_EQ(outcome.child.out, "ready\ndown\ncombo_space\nup\ndown\ncombo_space\n");
    EXPECT_EQ(outcome.child.err, "");
    EXPECT_EQ(outcome.child.exitCode, 0);
    ASSERT_FALSE(outcome.report.is_discarded());
    EXPECT_THAT(outcome.report["enableCalls"].get<std::vector<bool>>(),
                ElementsAre(true, true, true));
    ASSERT_EQ(outcome.report["delivered"].size(), 7u);
    for (const json& event : outcome.report["delivered"]) {
        EXPECT_TRUE(event["tapEnabledAfter"].get<bool>()) << "event " << event["index"];
    }
    expectEveryEventPassedThrough(outcome.report);
    std::vector<std::string> calls = strings(outcome.report["calls"]);
    ASSERT_FALSE(calls.empty());
    EXPECT_THAT(
        std::vector<std::string>(calls.end() - 3, calls.end()),
        ElementsAre("CFRunLoopRun", "CGEventTapEnable tap true", "CGEventTapEnable tap true"));
}

// A host that has gone used to leave an orphaned active filter in front of every keystroke.
TEST_F(Run, ReaderGoneBeforeReadyEndsTheProcessQuietly) {
    macsim::scriptSessionEvents({macsim::flagsChanged(option, optionKey)});
    macsim::ChildOptions options;
    options.readerGone = true;
    Outcome outcome = runGripwell({"gripwell"}, options);
    EXPECT_EQ(outcome.child.signal, 0);
    EXPECT_EQ(outcome.child.exitCode, 0);
    EXPECT_EQ(outcome.child.err, "");
    ASSERT_FALSE(outcome.report.is_discarded());
    EXPECT_THAT(outcome.report["delivered"], IsEmpty());
    EXPECT_EQ(outcome.report["pending"], 1u);
}

TEST_F(Run, ReaderGoneMidStreamEndsTheProcessAtTheNextLine) {
    macsim::scriptSessionEvents({
        macsim::flagsChanged(shift | leftShift, shiftKey),                        // no line
        macsim::flagsChanged(option | leftOption | shift | leftShift, optionKey), // "down" fails
        macsim::keyDown(space, option),
        macsim::flagsChanged(0, optionKey),
    });
    macsim::ChildOptions options;
    options.report = childReport;
    std::vector<std::string> args{"gripwell"};
    Outcome outcome = finish(macsim::runChild(
        [&args] {
            // The host reads "ready", then goes away while the run loop runs.
            int ends[2];
            if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) {
                return 99;
            }
            ::close(ends[1]);
            int readEnd = ends[0];
            macsim::onCall("CFRunLoopRun", 1, [readEnd] { ::close(readEnd); });
            return run(args);
        },
        options));
    EXPECT_EQ(outcome.child.signal, 0);
    EXPECT_EQ(outcome.child.exitCode, 0);
    EXPECT_EQ(outcome.child.err, "");
    ASSERT_FALSE(outcome.report.is_discarded());
    EXPECT_EQ(outcome.report["delivered"].size(), 1u) << "only the event before the failed line";
    EXPECT_EQ(outcome.report["pending"], 2u) << "no event after the failed line";
}

// The shell must read the right fields and hand the platform's event back untouched, whatever
// the session: its lines must be those of the decision over the same events.
TEST_F(Run, RandomSessionMatchesTheDecisionAndPassesEveryEventThrough) {
    std::mt19937_64 random(77);
    std::vector<SessionEvent> events;
    std::vector<KeyEvent> asDecided;
    const CGEventType types[] = {kCGEventFlagsChanged,
                                 kCGEventFlagsChanged,
                                 kCGEventKeyDown,
                                 kCGEventKeyDown,
                                 kCGEventKeyUp,
                                 kCGEventLeftMouseDown,
                                 kCGEventTapDisabledByTimeout};
    for (int i = 0; i < 3000; ++i) {
        SessionEvent event;
        event.type = types[random() % std::size(types)];
        event.flags = (random() & (command | option | shift | control)) | (random() & 0x1FF);
        event.keycode = random() % 3 == 0 ? static_cast<int64_t>(random() % 128) : space;
        event.autorepeat = event.type == kCGEventKeyDown ? static_cast<int64_t>(random() % 2) : 0;
        events.push_back(event);
        asDecided.push_back({event.type, event.flags, event.keycode, event.autorepeat});
    }
    std::string expected(lineBytes(Line::ready));
    HoldState state{command, false};
    for (const KeyEvent& event : asDecided) {
        Decision decision = decide(event, state);
        state = decision.state;
        if (decision.line) {
            expected += lineBytes(*decision.line);
        }
    }
    macsim::scriptSessionEvents(events);
    Outcome outcome = runGripwell({"gripwell", "command"});
    EXPECT_EQ(outcome.child.out, expected);
    EXPECT_GT(expected.size(), 1000u);
    EXPECT_EQ(outcome.child.err, "");
    EXPECT_EQ(outcome.child.exitCode, 0);
    ASSERT_FALSE(outcome.report.is_discarded());
    std::size_t reaching = 0;
    for (const SessionEvent& event : events) {
        reaching += event.type != kCGEventKeyUp && event.type != kCGEventLeftMouseDown;
    }
    EXPECT_EQ(outcome.report["delivered"].size(), reaching);
    expectEveryEventPassedThrough(outcome.report);
    EXPECT_THAT(strings(outcome.report["live"]), IsEmpty());
}

} // namespace
} // namespace gripwell
