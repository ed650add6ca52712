// simdesk's scenario reader over any bytes: a file that is not a scenario gives one FAIL block
// with the place and the reason, and a scenario is compared, in this process and without running
// its tool, with two outcomes: an empty one, and one that is exactly what it expects, which must
// pass. Every report is PASS or FAIL lines followed by indented lines, and `--show`'s account of
// a run is made too. A crash, an exception escaping, or a slow input (libFuzzer's -timeout) is a
// fault.
#include "check.h"

#include "simdesk/compare.h"
#include "simdesk/runner.h"
#include "simdesk/scenario.h"
#include "simdesk/show.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string fileName = "fuzz.json";

// The outcome of a run that did exactly what the scenario expects.
simdesk::Outcome expectedOutcome(const simdesk::Scenario& scenario) {
    const simdesk::Expectations& expect = scenario.expect;
    simdesk::Outcome outcome;
    outcome.process.exitCode = expect.exitCode;
    if (expect.stdoutText) {
        outcome.process.out = *expect.stdoutText;
    } else if (expect.json) {
        outcome.process.out = simdesk::showJson(*expect.json) + "\n";
    }
    outcome.elements = expect.elements;
    for (const simdesk::ExpectedWrite& write :
         expect.writes.value_or(std::vector<simdesk::ExpectedWrite>())) {
        outcome.writes.push_back({write.target, write.attribute, write.value, kAXErrorSuccess});
    }
    for (const simdesk::ExpectedPost& post :
         expect.posted.value_or(std::vector<simdesk::ExpectedPost>())) {
        macsim::PostedEvent event;
        event.keycode = static_cast<CGKeyCode>(post.keycode);
        event.down = post.down;
        event.flags = post.flags;
        event.atNanos = post.atNanos.value_or(0);
        outcome.posted.push_back(event);
    }
    outcome.elapsedNanos = expect.elapsedNanos.value_or(0);
    // "delivered": exactly so many; {"below": N}: one fewer will do (N is at least 1).
    const std::size_t delivered = expect.delivered.value_or(expect.deliveredBelow.value_or(1) - 1);
    outcome.eventsDelivered = delivered;
    outcome.activationsDelivered = delivered;
    return outcome;
}

// PASS or FAIL and the name on the first line, every further line indented, each ended.
void checkReport(const std::string& report) {
    const bool verdictFirst =
        report.compare(0, 5, "PASS ") == 0 || report.compare(0, 5, "FAIL ") == 0;
    fuzzcheck::require(verdictFirst && !report.empty() && report.back() == '\n',
                       "a report that does not start with PASS or FAIL, or is not ended");
    std::size_t start = report.find('\n') + 1;
    while (start < report.size()) {
        if (report.compare(start, 4, "    ") != 0) {
            fuzzcheck::disagree("a report line outside its block: " +
                                fuzzcheck::printable(report.substr(start, 80)));
        }
        start = report.find('\n', start) + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::variant<simdesk::Scenario, simdesk::FormatError> parsed =
        simdesk::parseScenario(bytes, fileName);
    if (const auto* error = std::get_if<simdesk::FormatError>(&parsed)) {
        const std::string report =
            simdesk::verdict(fileName, {simdesk::faultText("fuzz/" + fileName, *error)});
        fuzzcheck::require(report.compare(0, 5, "FAIL ") == 0, "a broken file that passes");
        checkReport(report);
        return 0;
    }
    const simdesk::Scenario& scenario = std::get<simdesk::Scenario>(parsed);
    simdesk::buildDesktop(scenario); // the desktop a child would start with

    const std::vector<std::string> emptyRun = simdesk::differences(scenario, simdesk::Outcome{});
    checkReport(simdesk::verdict(scenario.name, emptyRun));

    const simdesk::Outcome outcome = expectedOutcome(scenario);
    const std::vector<std::string> exactRun = simdesk::differences(scenario, outcome);
    // "stdout" and "json" may each hold what the other does not; alone, either is met.
    if (!(scenario.expect.stdoutText && scenario.expect.json) && !exactRun.empty()) {
        fuzzcheck::disagree("the very outcome it expects fails:\n" +
                            simdesk::verdict(scenario.name, exactRun));
    }
    checkReport(simdesk::verdict(scenario.name, exactRun));
    static_cast<void>(simdesk::showRun(scenario, outcome, exactRun));
    return 0;
}
