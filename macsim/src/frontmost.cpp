// The frontmost application as NSWorkspace reports it, and the waits of the workspace bridge.
#include "objects.h"

#include <macsim/keyboard.h>

#include <algorithm>

namespace macsim {

using namespace detail;

namespace {

struct FrontmostArea {
    std::vector<FrontmostEntry> timeline; // sorted by time, stable
    std::vector<int64_t> queryTimes;
};

FrontmostArea& area() {
    static FrontmostArea instance;
    return instance;
}

void resetFrontmostArea() {
    area() = FrontmostArea{};
}

[[maybe_unused]] const bool registered = (registerReset(&resetFrontmostArea), true);

std::string nanosText(int64_t nanos) {
    return std::to_string(nanos) + "ns";
}

} // namespace

void setFrontmostTimeline(std::vector<FrontmostEntry> timeline) {
    std::stable_sort(
        timeline.begin(), timeline.end(),
        [](const FrontmostEntry& a, const FrontmostEntry& b) { return a.atNanos < b.atNanos; });
    area().timeline = std::move(timeline);
}

std::size_t frontmostQueryCount() {
    return area().queryTimes.size();
}

const std::vector<int64_t>& frontmostQueryTimes() {
    return area().queryTimes;
}

std::optional<pid_t> frontmostPid() {
    logCall("frontmostApplication", "workspace");
    const int64_t now = nowNanos();
    area().queryTimes.push_back(now);
    std::optional<pid_t> current;
    for (const FrontmostEntry& entry : area().timeline) {
        if (entry.atNanos > now) {
            break;
        }
        current = entry.pid;
    }
    return current;
}

void sleepNanos(int64_t nanos) {
    logCall("sleepForTimeInterval", nanosText(nanos));
    advanceNanos(nanos);
}

void turnMainRunLoopNanos(int64_t nanos) {
    logCall("runMode:beforeDate:", "main", "kCFRunLoopDefaultMode " + nanosText(nanos));
    advanceNanos(nanos);
}

} // namespace macsim
