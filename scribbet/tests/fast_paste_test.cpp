// Fast paste on the simulated clock, for what the scenarios leave open: when each sample of the
// frontmost application is taken, how the waits are made, the events' flags, and the records of
// the cases that no scenario has.
#include "scribbet/fast_paste.h"

#include <macsim/control.h>
#include <macsim/keyboard.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr pid_t targetPid = 412;
constexpr pid_t otherPid = 77;
constexpr int64_t ms = 1'000'000;

std::size_t countCalls(const std::string& prefix) {
    const std::vector<std::string> calls = macsim::callStrings();
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
}

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

// The events come from a source of the hardware's state, whose flags they do not keep. Their times
// and order are the scenarios' to check.
TEST_F(FastPaste, BothEventsCarryExactlyCommandWhateverTheSourceLendsThem) {
    macsim::setFrontmostTimeline({{0, targetPid}});
    macsim::setEventSourceFlags(kCGEventFlagMaskShift | kCGEventFlagMaskNonCoalesced | 0x8);
    static_cast<void>(run());
    EXPECT_EQ(countCalls("CGEventSourceCreate HIDSystemState"), 1u);
    ASSERT_EQ(macsim::postedEvents().size(), 2u);
    for (const macsim::PostedEvent& event : macsim::postedEvents()) {
        EXPECT_EQ(event.flags, kCGEventFlagMaskCommand);
    }
}

TEST_F(FastPaste, RefusedRequestAndNoFrontmostAtFirstSampleAndThePollWaitsTurnTheRunLoop) {
    // A refused activation request is ignored: the samples decide.
    macsim::desktop().apps[targetPid].writeErrors["AXFrontmost"] = kAXErrorCannotComplete;
    macsim::setFrontmostTimeline({{45 * ms, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":-1,"frontmostConfirmed":true})");
    EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAre(0, 15 * ms, 30 * ms, 45 * ms));
    // Each poll wait is one turn of the main run loop for one interval; only the keystroke sleeps.
    EXPECT_EQ(countCalls("runMode:beforeDate: main kCFRunLoopDefaultMode 15000000ns"), 3u);
    EXPECT_EQ(countCalls("runMode:"), 3u);
    EXPECT_EQ(countCalls("sleepForTimeInterval"), 2u);
}

TEST_F(FastPaste, AppWithoutPidIsNoneAndTimeoutTakesTwentyPollsAndOneMoreSample) {
    macsim::setFrontmostTimeline({{0, -1}});
    EXPECT_EQ(
        run(),
        R"({"status":"activation_failed","targetPid":412,"error":"target_not_frontmost","frontmostPidBefore":-1,"frontmostConfirmed":false})");
    std::vector<int64_t> samples; // the first sample, 20 polls and the timeout's own sample
    for (int64_t t = 0; t <= 300 * ms; t += 15 * ms) {
        samples.push_back(t);
    }
    samples.push_back(300 * ms);
    EXPECT_THAT(macsim::frontmostQueryTimes(), ElementsAreArray(samples));
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
}

// The 0.3 s are counted from after the first sample: a slow first sample does not eat into them.
TEST_F(FastPaste, DeadlineStartsAfterTheFirstSample) {
    macsim::onCall("frontmostApplication", 1, [] { macsim::advanceNanos(100 * ms); });
    macsim::setFrontmostTimeline({{0, otherPid}, {350 * ms, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":77,"frontmostConfirmed":true})");
    EXPECT_EQ(macsim::frontmostQueryTimes().back(), 355 * ms);
}

TEST_F(FastPaste, KeyDownNotCreatedPostsNothingAndMakesNoKeyUp) {
    macsim::failures().keyDownCreate = true;
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"unexpected_error","targetPid":412,"error":"cgevent_create_failed","frontmostPidBefore":412,"frontmostConfirmed":true})");
    EXPECT_EQ(countCalls("CGEventCreateKeyboardEvent"), 1u);
    EXPECT_THAT(macsim::postedEvents(), IsEmpty());
}

TEST_F(FastPaste, WithoutAnEventSourceTheEventsAreCreatedWithoutOneAndPosted) {
    macsim::failures().eventSourceCreate = true;
    macsim::setFrontmostTimeline({{0, targetPid}});
    EXPECT_EQ(
        run(),
        R"({"status":"inserted","targetPid":412,"frontmostPidBefore":412,"frontmostConfirmed":true})");
    EXPECT_EQ(countCalls("CGEventCreateKeyboardEvent NULL 9 "), 2u);
    EXPECT_EQ(macsim::postedEvents().size(), 2u);
}

} // namespace
