#include "scribbet/entry.h"
#include "scribbet/fast_paste.h"
#include "scribbet/response.h"

#include <macsim/child.h>
#include <macsim/control.h>
#include <macsim/keyboard.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr pid_t targetPid = 412;
constexpr pid_t otherPid = 77;
constexpr int64_t ms = 1'000'000;

std::string timeText(int64_t nanos) {
    return nanos % ms == 0 ? std::to_string(nanos / ms) + "ms" : std::to_string(nanos) + "ns";
}

std::string hex(uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

// "HID 9 down 0x100000 @12ms"
std::vector<std::string> postedText() {
    std::vector<std::string> out;
    for (const macsim::PostedEvent& event : macsim::postedEvents()) {
        const std::string tap = event.tap == kCGHIDEventTap ? "HID" : std::to_string(event.tap);
        out.push_back(tap + " " + std::to_string(event.keycode) + (event.down ? " down " : " up ") +
                      hex(event.flags) + " @" + timeText(event.atNanos));
    }
    return out;
}

std::size_t countCalls(const std::string& prefix) {
    const std::vector<std::string> calls = macsim::callStrings();
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
}

std::vector<int64_t> pollTimes(int64_t first, int64_t last) {
    std::vector<int64_t> times;
    for (int64_t t = first; t <= last; t += 15 * ms) {
        times.push_back(t);
    }
    return times;
}

const std::string pollWait = "runMode:beforeDate: main kCFRunLoopDefaultMode 15000000ns";
const std::string sampleCall = "frontmostApplication workspace";

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

const std::string insertedFrom412 =
    R"({"status":"inserted","targetPid":412,"frontmostPidBefore":412,"frontmostConfirmed":true})";
const std::string insertedFromNone =
    R"({"status":"inserted","targetPid":412,"frontmostPidBefore":-1,"frontmostConfirmed":true})";

TEST_F(FastPaste, TargetAlreadyFrontmostStillRequestsActivationThenPostsWithoutWaiting) {
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(run(), insertedFrom412);
    EXPECT_THAT(macsim::callStrings(),
                ElementsAre("AXIsProcessTrusted", "AXUIElementCreateApplication app:412",
                            "AXUIElementSetAttributeValue app:412 AXFrontmost", sampleCall,
                            "CGEventSourceCreate HIDSystemState",
                            "CGEventCreateKeyboardEvent source 9 down",
                            "CGEventCreateKeyboardEvent source 9 up", "CGEventPost HID 9 down",
                            "sleepForTimeInterval 12000000ns", "CGEventPost HID 9 up",
                            "sleepForTimeInterval 30000000ns"));
    ASSERT_EQ(macsim::writes().size(), 1u);
    EXPECT_EQ(macsim::writes()[0].target, "app:412");
    EXPECT_EQ(macsim::writes()[0].attribute, "AXFrontmost");
    EXPECT_EQ(macsim::writes()[0].value, macsim::Value(true));
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @0ms", "HID 9 up 0x100000 @12ms"));
    EXPECT_EQ(macsim::nowNanos(), 42 * ms);
}

TEST_F(FastPaste, NoFrontmostApplicationAtFirstSampleIsMinusOneAndThePollWaitsTurnTheRunLoop) {
    macsim::setFrontmostTimeline({{45 * ms, targetPid}});
    EXPECT_EQ(run(), insertedFromNone);
    EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAre(0, 15 * ms, 30 * ms, 45 * ms));
    EXPECT_EQ(countCalls(pollWait), 3u);
    EXPECT_EQ(countCalls("runMode:"), 3u); // every poll wait is exactly one interval
    EXPECT_EQ(countCalls("sleepForTimeInterval"), 2u);
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @45ms", "HID 9 up 0x100000 @57ms"));
    EXPECT_EQ(macsim::nowNanos(), 87 * ms);
}

TEST_F(FastPaste, FailedActivationRequestIsIgnored) {
    macsim::desktop().apps[targetPid].writeErrors["AXFrontmost"] = kAXErrorCannotComplete;
    macsim::setFrontmostTimeline({{0, otherPid}, {30 * ms, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":77,"frontmostConfirmed":true})");
    EXPECT_EQ(macsim::writes().at(0).result, kAXErrorCannotComplete);
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
        {"another app, then none",
         {{0, otherPid}, {200 * ms, std::nullopt}},
         R"({"status":"activation_failed","targetPid":412,"error":"target_not_frontmost","frontmostPidBefore":77,"frontmostConfirmed":false})"},
        {"none, then another app",
         {{0, std::nullopt}, {120 * ms, otherPid}},
         R"({"status":"activation_failed","targetPid":412,"focusedPid":77,"error":"target_not_frontmost","frontmostPidBefore":-1,"frontmostConfirmed":false})"},
        {"an app without a pid",
         {{0, -1}},
         R"({"status":"activation_failed","targetPid":412,"error":"target_not_frontmost","frontmostPidBefore":-1,"frontmostConfirmed":false})"},
        {"the target only after the last sample",
         {{0, otherPid}, {301 * ms, targetPid}},
         R"({"status":"activation_failed","targetPid":412,"focusedPid":77,"error":"target_not_frontmost","frontmostPidBefore":77,"frontmostConfirmed":false})"},
    };
    std::vector<int64_t> samples = pollTimes(0, 300 * ms); // first sample and 20 polls
    samples.push_back(300 * ms);                           // the timeout's own sample
    for (const NeverFrontmost& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        macsim::setFrontmostTimeline(c.timeline);
        EXPECT_EQ(run(), c.record);
        EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAreArray(samples));
        EXPECT_EQ(countCalls(pollWait), 20u);
        EXPECT_EQ(countCalls("CGEvent"), 0u);
        EXPECT_EQ(countCalls("sleepForTimeInterval"), 0u);
        EXPECT_THAT(postedText(), IsEmpty());
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

TEST_F(FastPaste, TargetOnTheSampleAtTheDeadlineIsHonoured) {
    macsim::setFrontmostTimeline({{300 * ms, targetPid}});
    EXPECT_EQ(run(), insertedFromNone);
    EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAreArray(pollTimes(0, 300 * ms)));
    EXPECT_THAT(postedText(),
                ElementsAre("HID 9 down 0x100000 @300ms", "HID 9 up 0x100000 @312ms"));
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
    EXPECT_THAT(macsim::callStrings(), ElementsAre("AXIsProcessTrusted"));
    EXPECT_THAT(macsim::writes(), IsEmpty());
    EXPECT_THAT(postedText(), IsEmpty());
    EXPECT_EQ(macsim::nowNanos(), 0);
}

struct CreationFailure {
    const char* name;
    bool keyDown;
    bool keyUp;
    std::size_t creates; // keyboard events asked for before giving up
};

TEST_F(FastPaste, KeyEventCreationFailurePostsNothing) {
    const CreationFailure cases[] = {
        {"key-down", true, false, 1},
        {"key-up", false, true, 2},
        {"both", true, true, 1},
    };
    for (const CreationFailure& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        macsim::failures().keyDownCreate = c.keyDown;
        macsim::failures().keyUpCreate = c.keyUp;
        macsim::setFrontmostTimeline({{0, targetPid}});
        EXPECT_EQ(
            run(),
            R"({"status":"unexpected_error","targetPid":412,"error":"cgevent_create_failed","frontmostPidBefore":412,"frontmostConfirmed":true})");
        EXPECT_EQ(countCalls("CGEventCreateKeyboardEvent"), c.creates);
        EXPECT_EQ(countCalls("CGEventPost"), 0u);
        EXPECT_THAT(postedText(), IsEmpty());
        EXPECT_EQ(macsim::nowNanos(), 0);
    }
}

TEST_F(FastPaste, WithoutAnEventSourceTheEventsAreCreatedWithoutOneAndPosted) {
    macsim::failures().eventSourceCreate = true;
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(run(), insertedFrom412);
    EXPECT_EQ(countCalls("CGEventCreateKeyboardEvent NULL 9 "), 2u);
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @0ms", "HID 9 up 0x100000 @12ms"));
}

TEST_F(FastPaste, FlagsAreExactlyCommandWhateverTheSourceGave) {
    macsim::setEventSourceFlags(kCGEventFlagMaskShift | kCGEventFlagMaskAlternate |
                                kCGEventFlagMaskNonCoalesced | 0x8);
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(run(), insertedFrom412);
    EXPECT_THAT(postedText(), ElementsAre("HID 9 down 0x100000 @0ms", "HID 9 up 0x100000 @12ms"));
}

// ---- Whole runs, as the host sees them ---------------------------------------------------------

struct WholeRun {
    const char* name;
    std::function<void()> setUp;
    std::string out;
    std::string report;
};

// What the child did: the posted events, the simulated time at exit, and the objects left.
std::string childReport() {
    std::string text;
    for (const std::string& event : postedText()) {
        text += event + "|";
    }
    return text + "end " + timeText(macsim::nowNanos()) + "|live " +
           std::to_string(macsim::liveObjects());
}

TEST(FastPasteRun, EveryOutcomeComesOutAsOneLineAndStatusZero) {
    const WholeRun cases[] = {
        {"inserted after a wait",
         [] {
             macsim::setFrontmostTimeline({{0, otherPid}, {100 * ms, targetPid}});
         },
         "{\"status\":\"inserted\",\"targetPid\":412,\"frontmostPidBefore\":77,"
         "\"frontmostConfirmed\":true}\n",
         "HID 9 down 0x100000 @105ms|HID 9 up 0x100000 @117ms|end 147ms|live 0"},
        {"another app stays in front",
         [] {
             macsim::setFrontmostTimeline({{0, otherPid}});
         },
         "{\"status\":\"activation_failed\",\"targetPid\":412,\"focusedPid\":77,"
         "\"error\":\"target_not_frontmost\",\"frontmostPidBefore\":77,"
         "\"frontmostConfirmed\":false}\n",
         "end 300ms|live 0"},
        {"no app in front", [] {},
         "{\"status\":\"activation_failed\",\"targetPid\":412,\"error\":\"target_not_frontmost\","
         "\"frontmostPidBefore\":-1,\"frontmostConfirmed\":false}\n",
         "end 300ms|live 0"},
        {"key-up cannot be created",
         [] {
             macsim::setFrontmostTimeline({{0, targetPid}});
             macsim::failures().keyUpCreate = true;
         },
         "{\"status\":\"unexpected_error\",\"targetPid\":412,\"error\":\"cgevent_create_failed\","
         "\"frontmostPidBefore\":412,\"frontmostConfirmed\":true}\n",
         "end 0ms|live 0"},
        {"not trusted",
         [] {
             macsim::desktop().trusted = false;
             macsim::setFrontmostTimeline({{0, targetPid}});
         },
         "{\"status\":\"accessibility_not_trusted\",\"targetPid\":412,"
         "\"error\":\"accessibility_not_trusted\"}\n",
         "end 0ms|live 0"},
    };
    for (const WholeRun& c : cases) {
        SCOPED_TRACE(c.name);
        macsim::reset();
        macsim::desktop().trusted = true;
        c.setUp();
        macsim::ChildOptions options;
        options.report = childReport;
        const macsim::ChildResult result = macsim::runChild(
            []() -> int {
                scribbet::run({"scribbet", "412", "--fast-paste"});
            },
            options);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.report, c.report);
    }
}

TEST(FastPasteRun, BuiltToolReportsMissingPermissionWithoutATextFile) {
    // The simulated platform starts every process untrusted.
    const macsim::ChildResult result = macsim::runChild([] {
        ::execl(TOOL_BINARY, "scribbet", "412", "--fast-paste", static_cast<char*>(nullptr));
        return 127;
    });
    EXPECT_EQ(result.out, "{\"status\":\"accessibility_not_trusted\",\"targetPid\":412,"
                          "\"error\":\"accessibility_not_trusted\"}\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
}

} // namespace
