#include "simdesk/compare.h"

#include "simdesk/quoting.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace simdesk {

namespace {

// In the order and notation of the scenario format.
std::string showPost(int64_t keycode, bool down, CGEventFlags flags,
                     std::optional<int64_t> atNanos) {
    std::string text = "{\"keycode\":" + std::to_string(keycode) +
                       ",\"down\":" + (down ? "true" : "false") + ",\"flags\":\"" +
                       showFlags(flags) + "\"";
    if (atNanos) {
        text += ",\"at\":" + showSeconds(*atNanos);
    }
    return text + "}";
}

bool withinTolerance(int64_t expected, int64_t actual) {
    return std::llabs(expected - actual) <= timeToleranceNanos;
}

std::string showExpectedWrite(const ExpectedWrite& write) {
    return showJson({write.target, write.attribute, valueJson(write.value)});
}

std::string showExpectedPost(const ExpectedPost& post) {
    return showPost(post.keycode, post.down, post.flags, post.atNanos);
}

// Columns that `text` takes on a terminal: one per UTF-8 sequence.
std::size_t columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Texts longer than this are shown as an excerpt around the first difference.
constexpr std::size_t wholeTextLimit = 240;
constexpr std::size_t excerptContext = 40;

// Both texts quoted, one above the other, with a mark under the first byte where they part. Long
// texts are cut to the bytes around that place, with "..." where something is left out.
std::string textDifference(const std::string& expected, const std::string& actual) {
    std::size_t common = 0;
    while (common < expected.size() && common < actual.size() &&
           expected[common] == actual[common]) {
        ++common;
    }
    std::size_t from = 0;
    std::string shownExpected = expected, shownActual = actual, sizes;
    if (expected.size() > wholeTextLimit || actual.size() > wholeTextLimit) {
        from = common > excerptContext ? common - excerptContext : 0;
        while (from > 0 && (static_cast<unsigned char>(expected[from]) & 0xC0) == 0x80) {
            --from;
        }
        shownExpected = expected.substr(from, common - from + excerptContext);
        shownActual = actual.substr(from, common - from + excerptContext);
        sizes = " (expected " + std::to_string(expected.size()) + " bytes, actual " +
                std::to_string(actual.size()) + ")";
    }
    const std::string lead = from > 0 ? "..." : "";
    const auto show = [&lead](const std::string& whole, const std::string& shown, std::size_t at) {
        return lead + quoteBytes(shown) + (at + shown.size() < whole.size() ? "..." : "");
    };
    std::size_t sequenceStart = common; // the mark goes under a whole character
    while (sequenceStart > from &&
           (static_cast<unsigned char>(expected[sequenceStart]) & 0xC0) == 0x80) {
        --sequenceStart;
    }
    const std::string label = "  expected: ";
    const std::size_t markColumn =
        label.size() + lead.size() +
        columns(quoteBytes(expected.substr(from, sequenceStart - from))) - 1;
    return label + show(expected, shownExpected, from) +
           "\n  actual:   " + show(actual, shownActual, from) + "\n" +
           std::string(markColumn, ' ') + "^ first difference at byte " + std::to_string(common) +
           sizes;
}

// Two numbered lists side by side, with the first place where they part.
std::string listDifference(const std::string& what, const std::vector<std::string>& expected,
                           const std::vector<std::string>& actual, std::size_t firstDifference) {
    std::string out = what + " differ at #" + std::to_string(firstDifference + 1) + ":";
    const auto list = [&out](const char* title, const std::vector<std::string>& items) {
        out += std::string("\n  ") + title + (items.empty() ? " none" : "");
        for (std::size_t i = 0; i < items.size(); ++i) {
            out += "\n    " + std::to_string(i + 1) + ". " + items[i];
        }
    };
    list("expected:", expected);
    list("actual:", actual);
    return out;
}

template <class Expected, class Actual>
void compareLists(const std::string& what, const std::vector<Expected>& expected,
                  const std::vector<Actual>& actual,
                  const std::function<bool(const Expected&, const Actual&)>& same,
                  const std::function<std::string(const Expected&)>& showExpected,
                  const std::function<std::string(const Actual&)>& showActual,
                  std::vector<std::string>& out) {
    std::size_t first = 0;
    while (first < expected.size() && first < actual.size() &&
           same(expected[first], actual[first])) {
        ++first;
    }
    if (first == expected.size() && first == actual.size()) {
        return;
    }
    std::vector<std::string> expectedLines, actualLines;
    for (const Expected& item : expected) {
        expectedLines.push_back(showExpected(item));
    }
    for (const Actual& item : actual) {
        actualLines.push_back(showActual(item));
    }
    out.push_back(listDifference(what, expectedLines, actualLines, first));
}

void compareJson(const Json& expected, const std::string& out, std::vector<std::string>& diffs) {
    const std::size_t lineEnd = out.find('\n');
    if (lineEnd == std::string::npos || lineEnd + 1 != out.size()) {
        diffs.push_back("json: standard output is not exactly one line: " + quoteBytes(out));
        return;
    }
    Json actual;
    try {
        actual = parseJson(std::string_view(out).substr(0, lineEnd));
    } catch (const FormatError& error) {
        diffs.push_back("json: standard output is not JSON (" + error.place + ": " + error.reason +
                        "): " + quoteBytes(out));
        return;
    }
    if (!actual.is_object()) {
        diffs.push_back("json: standard output is not a JSON object: " + quoteBytes(out));
        return;
    }
    std::string text;
    for (const auto& member : expected.items()) {
        auto found = actual.find(member.key());
        if (found == actual.end()) {
            text +=
                "\n  \"" + member.key() + "\": expected " + showJson(member.value()) + ", absent";
        } else if (*found != member.value()) {
            text += "\n  \"" + member.key() + "\": expected " + showJson(member.value()) +
                    ", actual " + showJson(*found);
        }
    }
    for (const auto& member : actual.items()) {
        if (!expected.contains(member.key())) {
            text +=
                "\n  \"" + member.key() + "\": not expected, actual " + showJson(member.value());
        }
    }
    if (!text.empty()) {
        diffs.push_back("json members differ:" + text);
    }
}

} // namespace

macsim::Read finalRead(const Outcome& outcome, const std::string& element,
                       const std::string& attribute) {
    auto found = outcome.elements.find(element);
    if (found == outcome.elements.end()) {
        return macsim::Read::error(kAXErrorInvalidUIElement); // no such element on the desktop
    }
    return attributeRead(found->second, attribute);
}

std::string showWrite(const macsim::Write& write) {
    std::string text = showJson({write.target, write.attribute, valueJson(write.value)});
    if (write.result != kAXErrorSuccess) {
        text += " (refused with " + std::to_string(write.result) + ")";
    }
    return text;
}

std::string showPosted(const macsim::PostedEvent& event) {
    std::string text = showPost(event.keycode, event.down, event.flags, event.atNanos);
    if (event.tap != kCGHIDEventTap) {
        text += " (posted at tap " + std::to_string(event.tap) + ")";
    }
    return text;
}

std::vector<std::string> differences(const Scenario& scenario, const Outcome& outcome) {
    std::vector<std::string> diffs;
    const Expectations& expect = scenario.expect;
    const macsim::ChildResult& process = outcome.process;
    if (!outcome.setupFault.empty()) {
        return {outcome.setupFault};
    }
    if (process.signal == SIGALRM) {
        diffs.push_back("exit status: expected " + std::to_string(expect.exitCode) +
                        ", but the process was still running after " +
                        std::to_string(childTimeoutSeconds) + " s and was ended");
    } else if (process.signal != 0) {
        diffs.push_back("exit status: expected " + std::to_string(expect.exitCode) +
                        ", but the process was ended by signal " + std::to_string(process.signal) +
                        " (" + strsignal(process.signal) + ")");
    } else if (process.exitCode != expect.exitCode) {
        diffs.push_back("exit status: expected " + std::to_string(expect.exitCode) + ", actual " +
                        std::to_string(process.exitCode));
    }
    if (!process.err.empty()) {
        diffs.push_back("stderr: expected nothing, actual " + quoteBytes(process.err));
    }
    if (expect.stdoutText && expect.stdoutMayStopEarly) {
        const std::string& out = process.out;
        if (expect.stdoutText->compare(0, out.size(), out) != 0) {
            diffs.push_back("stdout: expected the first lines of the expected text, actual:\n" +
                            textDifference(*expect.stdoutText, out));
        } else if (!out.empty() && out.back() != '\n') {
            const std::size_t lastLine =
                out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1;
            diffs.push_back("stdout: ends inside a line: " + quoteBytes(out.substr(lastLine)) +
                            " after " + std::to_string(lastLine) + " bytes of whole lines");
        }
    } else if (expect.stdoutText && *expect.stdoutText != process.out) {
        diffs.push_back("stdout:\n" + textDifference(*expect.stdoutText, process.out));
    }
    if (expect.json) {
        compareJson(*expect.json, process.out, diffs);
    }
    const bool needsReport = !expect.elements.empty() || expect.writes || expect.posted ||
                             expect.elapsedNanos || expect.delivered || expect.deliveredBelow;
    if (!outcome.reportFault.empty()) {
        if (needsReport) {
            diffs.push_back(outcome.reportFault + ", so its effects cannot be checked");
        }
        return diffs;
    }
    for (const auto& [element, table] : expect.elements) {
        for (const auto& [attribute, read] : table) {
            const macsim::Read actual = finalRead(outcome, element, attribute);
            if (!sameOutcome(read, actual)) {
                diffs.push_back(element + " " + attribute + ": expected " + showOutcome(read) +
                                ", actual " + showOutcome(actual));
            }
        }
    }
    if (expect.writes) {
        compareLists<ExpectedWrite, macsim::Write>(
            "writes", *expect.writes, outcome.writes,
            [](const ExpectedWrite& e, const macsim::Write& a) {
                return e.target == a.target && e.attribute == a.attribute && e.value == a.value;
            },
            showExpectedWrite, showWrite, diffs);
    }
    if (expect.posted) {
        compareLists<ExpectedPost, macsim::PostedEvent>(
            "posted events", *expect.posted, outcome.posted,
            [](const ExpectedPost& e, const macsim::PostedEvent& a) {
                return e.keycode == a.keycode && e.down == a.down && e.flags == a.flags &&
                       a.tap == kCGHIDEventTap &&
                       (!e.atNanos || withinTolerance(*e.atNanos, a.atNanos));
            },
            showExpectedPost, showPosted, diffs);
    }
    for (const std::string& altered : outcome.alteredEvents) {
        diffs.push_back("the tap must pass every event on unchanged, but " + altered);
    }
    const std::size_t delivered =
        scenario.tool == Tool::gripwell ? outcome.eventsDelivered : outcome.activationsDelivered;
    const std::string what = scenario.tool == Tool::gripwell ? "events" : "activations";
    if (expect.delivered && delivered != *expect.delivered) {
        diffs.push_back("delivered: expected " + std::to_string(*expect.delivered) + " scripted " +
                        what + " to reach the tool, actual " + std::to_string(delivered));
    }
    if (expect.deliveredBelow && delivered >= *expect.deliveredBelow) {
        diffs.push_back("delivered: expected fewer than " + std::to_string(*expect.deliveredBelow) +
                        " scripted " + what + " to reach the tool, actual " +
                        std::to_string(delivered));
    }
    if (expect.elapsedNanos && !withinTolerance(*expect.elapsedNanos, outcome.elapsedNanos)) {
        diffs.push_back("elapsed: expected " + showSeconds(*expect.elapsedNanos) + " s, actual " +
                        showSeconds(outcome.elapsedNanos) + " s");
    }
    return diffs;
}

} // namespace simdesk
