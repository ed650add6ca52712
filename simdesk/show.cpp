#include "simdesk/show.h"

#include "simdesk/compare.h"
#include "simdesk/quoting.h"

#include <set>

namespace simdesk {

namespace {

std::string shellWord(const std::string& word) {
    bool plain = !word.empty();
    for (char c : word) {
        plain =
            plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("_@%+=:,./-").find(c) != std::string_view::npos);
    }
    if (plain) {
        return word;
    }
    std::string quoted = "'";
    for (char c : escapeBytes(word)) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The standard output, line by line, with anything unprintable escaped.
std::string showOutput(const std::string& out) {
    if (out.empty()) {
        return "  (nothing)\n";
    }
    std::string text;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            text += "  " + escapeBytes(out.substr(start)) + "  (no line feed at the end)\n";
            break;
        }
        text += "  " + escapeBytes(out.substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return text;
}

std::optional<std::u16string> stringValue(const AttributeTable& table,
                                          const std::string& attribute = "AXValue") {
    auto found = table.find(attribute);
    if (found == table.end() || found->second.code != kAXErrorSuccess || !found->second.value) {
        return std::nullopt;
    }
    if (const auto* text = std::get_if<std::u16string>(&*found->second.value)) {
        return *text;
    }
    return std::nullopt;
}

std::optional<CFRange> selection(const AttributeTable& table) {
    auto found = table.find("AXSelectedTextRange");
    if (found == table.end() || found->second.code != kAXErrorSuccess || !found->second.value) {
        return std::nullopt;
    }
    const auto* range = std::get_if<macsim::RangeValue>(&*found->second.value);
    if (range == nullptr || range->unreadable) {
        return std::nullopt;
    }
    return range->range;
}

// What changed on one element, or nothing. A text field's value and selection are drawn.
std::string elementChanges(const AttributeTable& before, const AttributeTable& after) {
    std::set<std::string> attributes;
    for (const auto& entry : before) {
        attributes.insert(entry.first);
    }
    for (const auto& entry : after) {
        attributes.insert(entry.first);
    }
    const std::optional<std::u16string> valueBefore = stringValue(before);
    const std::optional<std::u16string> valueAfter = stringValue(after);
    const bool drawn = valueBefore && valueAfter;
    std::string field, text;
    for (const std::string& attribute : attributes) {
        const macsim::Read was = attributeRead(before, attribute);
        const macsim::Read now = attributeRead(after, attribute);
        if (sameOutcome(was, now)) {
            continue;
        }
        if (drawn && (attribute == "AXValue" || attribute == "AXSelectedTextRange")) {
            field = "    before: " + drawField(*valueBefore, selection(before)) + "\n" +
                    "    after:  " + drawField(*valueAfter, selection(after)) + "\n";
            continue;
        }
        text += "    " + attribute + ": " + showOutcome(was) + " -> " + showOutcome(now) + "\n";
    }
    return field + text;
}

std::string showEvent(const macsim::SessionEvent& event) {
    std::string text;
    switch (event.type) {
    case kCGEventFlagsChanged:
        return "flagsChanged " + showFlags(event.flags);
    case kCGEventTapDisabledByTimeout:
        return "tapDisabledByTimeout";
    case kCGEventTapDisabledByUserInput:
        return "tapDisabledByUserInput";
    case kCGEventKeyDown:
        text = "keyDown ";
        break;
    case kCGEventKeyUp:
        text = "keyUp ";
        break;
    default:
        text = "event of type " + std::to_string(event.type) + ", keycode ";
    }
    text += std::to_string(event.keycode);
    if (event.flags != 0) {
        text += " with flags " + showFlags(event.flags);
    }
    return event.autorepeat != 0 ? text + " (auto-repeat)" : text;
}

std::string showActivation(const macsim::ActivationNotification& notification) {
    using Kind = macsim::ActivationNotification::Kind;
    switch (notification.kind) {
    case Kind::noUserInfo:
        return "no user-info dictionary";
    case Kind::noApplicationKey:
        return "no application in the user-info dictionary";
    case Kind::notAnApplication:
        return "a value that is not a running application";
    case Kind::application:
        break;
    }
    const macsim::ScriptedApplication& app = notification.application;
    Json json = Json::object();
    if (app.bundleIdentifier) {
        json["bundleIdentifier"] = *app.bundleIdentifier;
    }
    if (app.localizedName) {
        json["localizedName"] = *app.localizedName;
    }
    if (app.executableURL) {
        json["executableURL"] = *app.executableURL;
    }
    json["processIdentifier"] = app.processIdentifier;
    return showJson(json);
}

} // namespace

std::string drawField(const std::u16string& value, const std::optional<CFRange>& range) {
    const CFIndex size = static_cast<CFIndex>(value.size());
    const bool inside = range && range->location >= 0 && range->length >= 0 &&
                        range->location <= size && range->length <= size - range->location;
    if (!inside) {
        std::string text = escapeBytes(macsim::utf8(value));
        if (range) {
            text += "  (selection " + showValue(macsim::range(range->location, range->length)) +
                    " lies outside the text)";
        }
        return text;
    }
    const auto location = static_cast<std::size_t>(range->location);
    const auto length = static_cast<std::size_t>(range->length);
    const auto piece = [&value](std::size_t from, std::size_t count) {
        return escapeBytes(macsim::utf8(value.substr(from, count)));
    };
    if (length == 0) {
        return piece(0, location) + "|" + piece(location, std::u16string::npos);
    }
    return piece(0, location) + "[" + piece(location, length) + "]" +
           piece(location + length, std::u16string::npos);
}

std::string showRun(const Scenario& scenario, const Outcome& outcome,
                    const std::vector<std::string>& differences) {
    std::string text = "Scenario: " + scenario.name + "\n";
    std::string command;
    for (std::size_t i = 0; i < outcome.commandLine.size(); ++i) {
        const bool isTextFile =
            i > 0 && i <= scenario.args.size() && scenario.args[i - 1] == textFileWord;
        command += (i == 0 ? "" : " ") +
                   (isTextFile ? std::string(textFileWord) : shellWord(outcome.commandLine[i]));
    }
    text += "Command: " + command + "\n";
    if (!outcome.textFilePath.empty()) {
        text += "  where " + std::string(textFileWord) + " is a fresh file holding " +
                quoteBytes(scenario.text) + " (" + std::to_string(scenario.text.size()) +
                (scenario.text.size() == 1 ? " byte)\n" : " bytes)\n");
    }
    switch (scenario.stdoutReader) {
    case StdoutReader::reads:
        break;
    case StdoutReader::gone:
        text += "  with nobody reading its standard output\n";
        break;
    case StdoutReader::stalls:
        text += "  with a reader of its standard output that reads nothing until every session "
                "event has reached the tool\n";
        break;
    case StdoutReader::neverReads:
        text += "  with a reader of its standard output that never reads\n";
        break;
    }
    if (!scenario.frontmost.empty()) {
        text += "Frontmost application:\n";
        for (const macsim::FrontmostEntry& entry : scenario.frontmost) {
            text += "  from " + showSeconds(entry.atNanos) + " s: " +
                    (entry.pid ? "pid " + std::to_string(*entry.pid) : std::string("none")) + "\n";
        }
    }
    if (!scenario.events.empty()) {
        text += "Session events:\n";
        for (std::size_t i = 0; i < scenario.events.size(); ++i) {
            text += "  " + std::to_string(i + 1) + ". " + showEvent(scenario.events[i]) + "\n";
        }
    }
    if (!scenario.activations.empty()) {
        text += "Activations:\n";
        for (std::size_t i = 0; i < scenario.activations.size(); ++i) {
            text += "  " + std::to_string(i + 1) + ". " + showActivation(scenario.activations[i]) +
                    "\n";
        }
    }

    if (!outcome.setupFault.empty()) {
        return text + "Not started: " + outcome.setupFault + "\nFAIL\n";
    }
    text += "Standard output:\n" + showOutput(outcome.process.out);
    if (!outcome.process.err.empty()) {
        text += "Standard error:\n" + showOutput(outcome.process.err);
    }
    if (outcome.process.signal != 0) {
        text += "Ended by signal " + std::to_string(outcome.process.signal) + "\n";
    } else {
        text += "Exit status: " + std::to_string(outcome.process.exitCode) + "\n";
    }

    if (!outcome.reportFault.empty()) {
        text += "Desktop: unknown, " + outcome.reportFault + "\n";
    } else {
        std::string changes;
        std::set<std::string> names;
        for (const auto& entry : scenario.desktop.elements) {
            names.insert(entry.first);
        }
        for (const auto& entry : outcome.elements) {
            names.insert(entry.first);
        }
        for (const std::string& name : names) {
            auto before = scenario.desktop.elements.find(name);
            auto after = outcome.elements.find(name);
            const std::string change = elementChanges(
                before == scenario.desktop.elements.end() ? AttributeTable{}
                                                          : before->second.attributes,
                after == outcome.elements.end() ? AttributeTable{} : after->second);
            if (!change.empty()) {
                const std::optional<std::u16string> role = stringValue(
                    before == scenario.desktop.elements.end() ? AttributeTable{}
                                                              : before->second.attributes,
                    "AXRole");
                changes +=
                    "  " + name + (role ? " (" + macsim::utf8(*role) + ")" : "") + "\n" + change;
            }
        }
        text += "Desktop changes:" + (changes.empty() ? std::string(" none\n") : "\n" + changes);
        if (!outcome.writes.empty() || scenario.tool == Tool::scribbet) {
            text += "Writes:" + std::string(outcome.writes.empty() ? " none\n" : "\n");
        }
        for (std::size_t i = 0; i < outcome.writes.size(); ++i) {
            text += "  " + std::to_string(i + 1) + ". " + showWrite(outcome.writes[i]) + "\n";
        }
        if (!outcome.posted.empty() || scenario.expect.posted) {
            text += "Posted events:" + std::string(outcome.posted.empty() ? " none\n" : "\n");
            for (std::size_t i = 0; i < outcome.posted.size(); ++i) {
                text += "  " + std::to_string(i + 1) + ". " + showPosted(outcome.posted[i]) + "\n";
            }
        }
        if (outcome.elapsedNanos != 0) {
            text += "Elapsed on the simulated clock: " + showSeconds(outcome.elapsedNanos) + " s\n";
        }
    }

    if (differences.empty()) {
        return text + "PASS: every expectation holds\n";
    }
    text += "FAIL:\n";
    for (const std::string& difference : differences) {
        text += indentLines(difference, "  ");
    }
    return text;
}

} // namespace simdesk
