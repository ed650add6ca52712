// Whole runs of gripwell in a child process, for what the scenarios cannot see: the platform calls
// in order, the tap's parameters, the objects left alive, and the run loop's part in writing the
// lines that had to wait. The lines and exit statuses are the scenarios' to check, and a reader
// that goes mid-run the desktop tests'.
#include "gripwell/gripwell.h"

#include <macsim/child.h>
#include <macsim/control.h>
#include <macsim/tap.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace gripwell {
namespace {

using nlohmann::json;
using Calls = std::vector<std::string>;

constexpr CGEventFlags option = kCGEventFlagMaskAlternate;
constexpr int64_t optionKey = 58, space = 49;

const Calls startUpCalls = {"AXIsProcessTrusted",
                            "CGEventTapCreate session",
                            "CFMachPortCreateRunLoopSource tap order 0",
                            "CFRunLoopGetCurrent",
                            "CFRunLoopAddSource run-loop kCFRunLoopCommonModes",
                            "CGEventTapEnable tap true",
                            "CFRunLoopRun"};

// In the child: the reading end of a pipe on standard output that the child reads itself.
int laggingReader = -1;

// What the pipe on standard output holds now.
std::string drainLaggingReader() {
    std::string bytes;
    char chunk[65536];
    for (ssize_t n; laggingReader >= 0 && (n = ::read(laggingReader, chunk, sizeof chunk)) > 0;) {
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}

// In the child, before the tool: standard output becomes a pipe that is full before "ready", as
// under a host that has stopped reading. The child reads it only where a test says so.
bool lagBehind() {
    int ends[2];
    if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) {
        return false;
    }
    ::close(ends[1]);
    laggingReader = ends[0];
    ::fcntl(laggingReader, F_SETFL, O_NONBLOCK);
    ::fcntl(STDOUT_FILENO, F_SETFL, O_NONBLOCK);
    static const std::string filler(65536, 'x');
    while (::write(STDOUT_FILENO, filler.data(), filler.size()) > 0) {
    }
    return true;
}

// Gathered in the child at exit. The run loop is torn down first, so that "live" lists only what
// the tool itself still holds.
std::string childReport() {
    json report;
    report["readLate"] = drainLaggingReader();
    report["calls"] = macsim::callStrings();
    if (auto tap = macsim::createdTap()) {
        report["tap"] = {tap->location, tap->placement, tap->options, tap->eventsOfInterest};
        report["callbackAndNoUserInfo"] = tap->callback == &tapCallback && !tap->userInfo;
    }
    report["delivered"] = macsim::deliveredEvents().size();
    macsim::tearDownRunLoop();
    report["live"] = macsim::liveObjectDescriptions();
    return report.dump();
}

struct Outcome {
    macsim::ChildResult child;
    json report;
};

// `prepare` runs in the child before the tool; the child exits 99 if it fails.
Outcome runGripwell(const std::function<bool()>& prepare = {}) {
    macsim::ChildOptions options;
    options.report = childReport;
    macsim::ChildResult child = macsim::runChild(
        [&prepare] { return !prepare || prepare() ? run({"gripwell"}) : 99; }, options);
    json report = json::parse(child.report, nullptr, false);
    EXPECT_FALSE(report.is_discarded()) << "no report from the child: " << child.err;
    return {std::move(child), std::move(report)};
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

// Each start-up call is made in order, up to the first that fails; whatever was made is released.
// The tap is an active filter at the head of the session; the run loop's references are not the
// tool's to release.
TEST_F(Run, StartsUpInOrderAndReleasesWhatItMade) {
    struct Row {
        bool trusted, tapFails, sourceFails;
        std::size_t calls; // how many of the start-up calls were made
    };
    const Row rows[] = {{false, true, true, 1},
                        {true, true, false, 2},
                        {true, false, true, 3},
                        {true, false, false, 7}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.calls);
        SetUp();
        macsim::desktop().trusted = row.trusted;
        macsim::failures().eventTapCreate = row.tapFails;
        macsim::failures().runLoopSourceCreate = row.sourceFails;
        Outcome outcome = runGripwell();
        EXPECT_EQ(outcome.report["calls"],
                  Calls(startUpCalls.begin(), startUpCalls.begin() + row.calls));
        EXPECT_EQ(outcome.report["live"], json::array()) << "tap leaked";
        if (row.calls == startUpCalls.size()) {
            EXPECT_EQ(outcome.report["tap"], json({kCGSessionEventTap, kCGHeadInsertEventTap,
                                                   kCGEventTapOptionDefault, 0x1400u}));
            EXPECT_EQ(outcome.report["callbackAndNoUserInfo"], true);
        }
    }
}

// Lines that standard output cannot take wait, "ready" first. Once the reader catches up, the run
// loop writes them through a descriptor source made for the purpose, which run() lets go of. When
// they can never be written, the process still ends quietly with status 0: the reader gone, found
// by the run loop's write, or no descriptor source to learn when standard output takes more.
TEST_F(Run, LinesThatWaitAreWrittenFromTheRunLoopOrEndTheRunQuietly) {
    Calls waited(startUpCalls.begin(), startUpCalls.end() - 1);
    waited.insert(waited.end(),
                  {"CFFileDescriptorCreate fd:1",
                   "CFFileDescriptorCreateRunLoopSource fd:1 order 0", "CFRunLoopGetCurrent",
                   "CFRunLoopAddSource run-loop kCFRunLoopCommonModes",
                   "CFFileDescriptorEnableCallBacks fd:1 write", "CFRunLoopRun",
                   "CFFileDescriptorInvalidate fd:1"});
    static bool readerGoes = false;
    const struct {
        const char* what;
        bool readerGoes, sourceFails;
        int delivered;
    } rows[] = {{"reader catches up", false, false, 3},
                {"reader gone", true, false, 3},
                {"no descriptor source", false, true, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        macsim::failures().fileDescriptorCreate = row.sourceFails;
        macsim::scriptSessionEvents({macsim::flagsChanged(option, optionKey),
                                     macsim::keyDown(space, option),
                                     macsim::flagsChanged(0, optionKey)});
        readerGoes = row.readerGoes;
        Outcome outcome = runGripwell([] {
            macsim::onSessionEventsDone([] {
                if (readerGoes) {
                    ::close(laggingReader);
                    laggingReader = -1;
                } else {
                    drainLaggingReader();
                }
            });
            return lagBehind();
        });
        EXPECT_EQ(outcome.child.signal, 0);
        EXPECT_EQ(outcome.child.exitCode, 0);
        EXPECT_EQ(outcome.child.err, "");
        EXPECT_EQ(outcome.report["delivered"], row.delivered);
        if (!row.readerGoes && !row.sourceFails) {
            EXPECT_EQ(outcome.report["readLate"], "ready\ndown\ncombo_space\nup\n");
            EXPECT_EQ(outcome.report["calls"], waited);
            EXPECT_EQ(outcome.report["live"], json::array());
        }
    }
}

} // namespace
} // namespace gripwell
