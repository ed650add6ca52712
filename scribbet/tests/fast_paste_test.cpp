// Fast paste on the simulated clock: the activation request, the samples of the frontmost
// application and their times, the keystroke's events, flags and pauses, and each record.
#include "scribbet/entry.h"
#include "scribbet/fast_paste.h"
#include "scribbet/response.h"

#include <macsim/child.h>
#include <macsim/control.h>
#include <macsim/keyboard.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr pid_t targetPid = 412;
constexpr pid_t otherPid = 77;
constexpr int64_t ms = 1'000'000;

// "HID 9 down 0x100000 @12ms"
std::vector<std::string> postedText() {
    std::vector<std::string> out;
    for (const macsim::PostedEvent& event : macsim::postedEvents()) {
        std::ostringstream line;
        line << (event.tap == kCGHIDEventTap ? "HID " : "other tap ") << event.keycode
             << (event.down ? " down 0x" : " up 0x") << std::hex << event.flags << std::dec << " @"
             << event.atNanos / ms << "ms";
        if (event.atNanos % ms != 0) {
            line << "+" << event.atNanos % ms << "ns";
        }
        out.push_back(line.str());
    }
    return out;
}

std::size_t countCalls(const std::string& prefix) {
    const std::vector<std::string> calls = macsim::callStrings();
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
}

const std::string pollWait = "runMode:beforeDate: main kCFRunLoopDefaultMode 15000000ns";

class FastPaste : public ::testing::Test {
protected:
    void SetUp() override {
        macsim::reset();
        macsim::desktop().trusted = true;
    }

    // Runs fast paste for the target; its record as the result line's JSON. No platform object
    // may outlive the run.
    std::string run() {
        const scribbet::HelperResponse response = scribbet::runFastPaste(targetPid);
        EXPECT_EQ(macsim::liveObjects(), 0u)
            << ::testing::PrintToString(macsim::liveObjectDescriptions());
        return scribbet::encode(response);
    }
};

// The whole pass when the target is in front at the first sample: no wait at all.
const std::vector<std::string> alreadyFrontmostCalls = {
    "AXIsProcessTrusted",
    "AXUIElementCreateApplication app:412",
    "AXUIElementSetAttributeValue app:412 AXFrontmost",
    "frontmostApplication workspace",
    "CGEventSourceCreate HIDSystemState",
    "CGEventCreateKeyboardEvent source 9 down",
    "CGEventCreateKeyboardEvent source 9 up",
    "CGEventPost HID 9 down",
    "sleepForTimeInterval 12000000ns",
    "CGEventPost HID 9 up",
    "sleepForTimeInterval 30000000ns",
};

const std::string insertedFromNone =
    R"({"status":"inserted","targetPid":412,"frontmostPidBefore":-1,"frontmostConfirmed":true})";

TEST_F(FastPaste, TargetAlreadyFrontmostStillRequestsActivationThenPostsWithoutWaiting) {
    macsim::setFrontmostTimeline({{0, targetPid}});
    // The flags posted are exactly Command, whatever the source lends the events.
    macsim::setEventSourceFlags(kCGEventFlagMaskShift | kCGEventFlagMaskNonCoalesced | 0x8);
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":412,"frontmostConfirmed":true})");
    EXPECT_EQ(macsim::callStrings(), alreadyFrontmostCalls);
    ASSERT_EQ(macsim::writes().size(), 1u);
    EXPECT_EQ(macsim::writes()[0].target, "app:412");
    EXPECT_EQ(macsim::writes()[0].attribute, "AXFrontmost");
    EXPECT_EQ(macsim::writes()[0].value, macsim::Value(true));
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @0ms", "HID 9 up 0x100000 @12ms"));
    EXPECT_EQ(macsim::nowNanos(), 42 * ms);
}

TEST_F(FastPaste, NoFrontmostAtFirstSampleIsMinusOneAndOnlyThePollWaitsTurnTheRunLoop) {
    // A refused activation request is ignored: the samples decide.
    macsim::desktop().apps[targetPid].writeErrors["AXFrontmost"] = kAXErrorCannotComplete;
    macsim::setFrontmostTimeline({{45 * ms, targetPid}});
    EXPECT_EQ(run(), insertedFromNone);
    EXPECT_EQ(macsim::writes().at(0).result, kAXErrorCannotComplete);
    EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAre(0, 15 * ms, 30 * ms, 45 * ms));
    EXPECT_EQ(countCalls(pollWait), 3u);
    EXPECT_EQ(countCalls("runMode:"), 3u); // every poll wait is exactly one interval
    EXPECT_EQ(countCalls("sleepForTimeInterval"), 2u);
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @45ms", "HID 9 up 0x100000 @57ms"));
    EXPECT_EQ(macsim::nowNanos(), 87 * ms);
}

struct NeverFrontmost {
    const char* name;
    std::vector<macsim::FrontmostEntry> timeline;
    std::string record;
};

TEST_F(FastPaste, TargetNeverFrontmostTimesOutAfterTwentyPollsAndOneMoreSample) {
    const NeverFrontmost cases[] = {
        {"another app throughout",
         {{0, otherPid}},
         R"({"status":"activation_failed","targetPid":412,"focusedPid":77,"error":"target_not_frontmost","frontmostPidBefore":77,"frontmostConfirmed":false})"},
        {"no app throughout",
         {},
         R"({"status":"activation_failed","targetPid":412,"error":"target_not_frontmost","frontmostPidBefore":-1,"frontmostConfirmed":false})"},
        {"an app without a pid",
         {{0, -1}},
         R"({"status":"activation_failed","targetPid":412,"error":"target_not_frontmost","frontmostPidBefore":-1,"frontmostConfirmed":false})"},
    };
    std::vector<int64_t> samples; // the first sample, 20 polls and the timeout's own sample
    for (int64_t t = 0; t <= 300 * ms; t += 15 * ms) {
        samples.push_back(t);
    }
    samples.push_back(300 * ms);
    for (const NeverFrontmost& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        macsim::setFrontmostTimeline(c.timeline);
        EXPECT_EQ(run(), c.record);
        EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAreArray(samples));
        EXPECT_EQ(countCalls(pollWait), 20u);
        EXPECT_EQ(countCalls("CGEvent"), 0u);
        EXPECT_EQ(countCalls("sleepForTimeInterval"), 0u);
        EXPECT_EQ(macsim::nowNanos(), 300 * ms);
    }
}

TEST_F(FastPaste, TimeoutReportsTheAppOfItsOwnSample) {
    macsim::setFrontmostTimeline({{0, otherPid}});
    macsim::onCall("frontmostApplication", 22, [] { macsim::setFrontmostTimeline({{0, 99}}); });
    EXPECT_EQ(
        run(),
        R"({"status":"activation_failed","targetPid":412,"focusedPid":99,"error":"target_not_frontmost","frontmostPidBefore":77,"frontmostConfirmed":false})");
}

TEST_F(FastPaste, TargetFoundInTheWaitDuringWhichTheDeadlinePassesIsHonoured) {
    // The second sample comes 5 ms late, so the polls land at 20, 35, ... 290, 305 ms: the
    // deadline (300 ms) passes inside the last wait.
    macsim::onCall("frontmostApplication", 2, [] { macsim::advanceNanos(5 * ms); });
    macsim::setFrontmostTimeline({{0, otherPid}, {303 * ms, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":77,"frontmostConfirmed":true})");
    EXPECT_EQ(macsim::frontmostQueryTimes().back(), 305 * ms);
    EXPECT_EQ(macsim::frontmostQueryCount(), 21u);
    EXPECT_THAT(postedText(),
                ElementsAre("HID 9 down 0x100000 @305ms", "HID 9 up 0x100000 @317ms"));
}

TEST_F(FastPaste, UntrustedSendsNoRequestAndNoEvent) {
    macsim::desktop().trusted = false;
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"accessibility_not_trusted","targetPid":412,"error":"accessibility_not_trusted"})");
    // Every request, sample, event and pause would show in the log.
    EXPECT_THAT(macsim::callStrings(), ElementsAre("AXIsProcessTrusted"));
}

TEST_F(FastPaste, KeyEventCreationFailurePostsNothing) {
    for (const bool keyUpFails : {false, true}) {
        SCOPED_TRACE(keyUpFails ? "key-up" : "key-down");
        SetUp();
        macsim::failures().keyDownCreate = !keyUpFails;
        macsim::failures().keyUpCreate = keyUpFails;
        macsim::setFrontmostTimeline({{0, targetPid}});
        EXPECT_EQ(
            run(),
            R"({"status":"unexpected_error","targetPid":412,"error":"cgevent_create_failed","frontmostPidBefore":412,"frontmostConfirmed":true})");
        EXPECT_EQ(countCalls("CGEventCreateKeyboardEvent"), keyUpFails ? 2u : 1u);
        EXPECT_THAT(postedText(), IsEmpty());
        EXPECT_EQ(macsim::nowNanos(), 0);
    }
}

TEST_F(FastPaste, WithoutAnEventSourceTheEventsAreCreatedWithoutOneAndPosted) {
    macsim::failures().eventSourceCreate = true;
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":412,"frontmostConfirmed":true})");
    EXPECT_EQ(countCalls("CGEventCreateKeyboardEvent NULL 9 "), 2u);
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @0ms", "HID 9 up 0x100000 @12ms"));
}

// The whole run from the argument list, without a text file: the calls and the objects alive at
// exit, reported by the child after its result line.
TEST(FastPasteRun, MakesExactlyItsCallsAndReleasesEverything) {
    macsim::reset();
    macsim::desktop().trusted = true;
    macsim::setFrontmostTimeline({{0, targetPid}});
    macsim::ChildOptions options;
    options.report = macsim::liveObjectsAndCalls;
    const macsim::ChildResult result = macsim::runChild(
        []() -> int {
            scribbet::run({"scribbet", "412", "--fast-paste"});
        },
        options);
    EXPECT_EQ(result.out, "{\"status\":\"inserted\",\"targetPid\":412,\"frontmostPidBefore\":412,"
                          "\"frontmostConfirmed\":true}\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    std::string expected = "live 0\n";
    for (const std::string& call : alreadyFrontmostCalls) {
        expected += call + "\n";
    }
    EXPECT_EQ(result.report, expected);
}

} // namespace
