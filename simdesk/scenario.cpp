#include "simdesk/scenario.h"

#include <limits>

namespace simdesk {

namespace {

constexpr int64_t pidMin = std::numeric_limits<pid_t>::min();
constexpr int64_t pidMax = std::numeric_limits<pid_t>::max();

pid_t readPid(const Json& json, const std::string& place) {
    return static_cast<pid_t>(readInteger(json, place, pidMin, pidMax));
}

// A pid written as the name of a member: decimal digits with an optional minus sign.
pid_t pidFromKey(const std::string& key, const std::string& place) {
    std::size_t digits = !key.empty() && key[0] == '-' ? 1 : 0;
    bool valid = key.size() > digits && key.size() - digits <= 10;
    int64_t value = 0;
    for (std::size_t i = digits; valid && i < key.size(); ++i) {
        valid = key[i] >= '0' && key[i] <= '9';
        value = value * 10 + (key[i] - '0');
    }
    value = digits == 1 ? -value : value;
    if (!valid || value < pidMin || value > pidMax) {
        throw FormatError{place, "not a process id: \"" + key + "\""};
    }
    return static_cast<pid_t>(value);
}

std::string readText(const Json& json, const std::string& place) {
    if (json.is_string()) {
        return json.get<std::string>();
    }
    if (!json.is_object()) {
        throw FormatError{place, "expected a string or {\"hex\": \"...\"}"};
    }
    allowOnly(json, place, {"hex"});
    const std::string hexPlace = memberPlace(place, "hex");
    const std::string& hex = requireString(requireMember(json, place, "hex"), hexPlace);
    std::string bytes;
    int pending = -1;
    for (char c : hex) {
        if (c == ' ') {
            continue;
        }
        const int digit = hexDigitValue(c);
        if (digit < 0) {
            throw FormatError{hexPlace, std::string("not a hex digit: '") + c + "'"};
        }
        if (pending < 0) {
            pending = digit;
        } else {
            bytes.push_back(static_cast<char>(pending * 16 + digit));
            pending = -1;
        }
    }
    if (pending >= 0) {
        throw FormatError{hexPlace, "odd number of hex digits"};
    }
    return bytes;
}

Tool readTool(const Json& json, const std::string& place) {
    const std::string& name = requireString(json, place);
    for (Tool tool : {Tool::scribbet, Tool::gripwell, Tool::vantor}) {
        if (name == toolName(tool)) {
            return tool;
        }
    }
    throw FormatError{place, "unknown tool \"" + name + "\" (known: scribbet, gripwell, vantor)"};
}

macsim::PidOutcome readPidOutcome(const Json& json, const std::string& place) {
    if (json.is_number()) {
        return macsim::PidOutcome::of(readPid(json, place));
    }
    if (!json.is_object()) {
        throw FormatError{place, "expected a pid, {\"error\": CODE} or {\"error\": CODE, "
                                 "\"pid\": N}"};
    }
    allowOnly(json, place, {"error", "pid"});
    const AXError code =
        readErrorCode(requireMember(json, place, "error"), memberPlace(place, "error"));
    std::optional<pid_t> written;
    if (json.contains("pid")) {
        written = readPid(json.at("pid"), memberPlace(place, "pid"));
    }
    return macsim::PidOutcome::error(code, written);
}

macsim::Settable readSettable(const Json& json, const std::string& place) {
    if (json.is_boolean()) {
        return {kAXErrorSuccess, json.get<bool>()};
    }
    if (!json.is_object()) {
        throw FormatError{place, "expected true, false, {\"error\": CODE} or {\"error\": CODE, "
                                 "\"flag\": true}"};
    }
    allowOnly(json, place, {"error", "flag"});
    macsim::Settable settable;
    settable.code = readErrorCode(requireMember(json, place, "error"), memberPlace(place, "error"));
    if (json.contains("flag")) {
        settable.flag = requireBool(json.at("flag"), memberPlace(place, "flag"));
    }
    return settable;
}

// {"error": CODE, "stores": STORED}, both optional: the code the write returns (success without
// one) and what it leaves as the attribute's value: "written", "nothing" (the old value stays),
// or {"value": READ-VALUE}. Without "stores", a write that succeeds stores what was written and
// one that fails stores nothing.
macsim::WriteOutcome readWriteOutcome(const Json& json, const std::string& place) {
    requireObject(json, place);
    allowOnly(json, place, {"error", "stores"});
    macsim::WriteOutcome outcome;
    if (json.contains("error")) {
        outcome.code = readErrorCode(json.at("error"), memberPlace(place, "error"));
    }
    if (!json.contains("stores")) {
        if (outcome.code != kAXErrorSuccess) {
            outcome.effect = macsim::WriteOutcome::Effect::keepsOld;
        }
        return outcome;
    }
    const Json& stores = json.at("stores");
    const std::string at = memberPlace(place, "stores");
    if (stores == "written") {
        outcome.effect = macsim::WriteOutcome::Effect::storesWritten;
    } else if (stores == "nothing") {
        outcome.effect = macsim::WriteOutcome::Effect::keepsOld;
    } else if (stores.is_object()) {
        allowOnly(stores, at, {"value"});
        outcome.effect = macsim::WriteOutcome::Effect::storesOther;
        outcome.other = readValue(requireMember(stores, at, "value"), memberPlace(at, "value"));
    } else {
        throw FormatError{at, "expected \"written\", \"nothing\" or {\"value\": VALUE}"};
    }
    return outcome;
}

macsim::Element readElement(const Json& json, const std::string& place) {
    requireObject(json, place);
    allowOnly(json, place, {"pid", "attributes", "settable", "writeErrors", "onWrite"});
    macsim::Element element;
    if (json.contains("pid")) {
        element.pid = readPidOutcome(json.at("pid"), memberPlace(place, "pid"));
    }
    if (json.contains("attributes")) {
        const std::string at = memberPlace(place, "attributes");
        for (const auto& item : requireObject(json.at("attributes"), at).items()) {
            element.attributes[item.key()] = readOutcome(item.value(), memberPlace(at, item.key()));
        }
    }
    if (json.contains("settable")) {
        const std::string at = memberPlace(place, "settable");
        for (const auto& item : requireObject(json.at("settable"), at).items()) {
            element.settable[item.key()] = readSettable(item.value(), memberPlace(at, item.key()));
        }
    }
    if (json.contains("writeErrors")) {
        const std::string at = memberPlace(place, "writeErrors");
        for (const auto& item : requireObject(json.at("writeErrors"), at).items()) {
            element.writeErrors[item.key()] =
                readErrorCode(item.value(), memberPlace(at, item.key()));
        }
    }
    if (json.contains("onWrite")) {
        const std::string at = memberPlace(place, "onWrite");
        for (const auto& item : requireObject(json.at("onWrite"), at).items()) {
            if (element.writeErrors.count(item.key()) != 0) {
                throw FormatError{memberPlace(at, item.key()),
                                  "the write of " + item.key() + " is in writeErrors too"};
            }
            element.writeOutcomes[item.key()] =
                readWriteOutcome(item.value(), memberPlace(at, item.key()));
        }
    }
    return element;
}

macsim::Element readApp(const Json& json, const std::string& place) {
    requireObject(json, place);
    allowOnly(json, place, {"focus", "frontmostWriteError"});
    macsim::Element app;
    app.attributes["AXFocusedUIElement"] =
        json.contains("focus") ? readOutcome(json.at("focus"), memberPlace(place, "focus"))
                               : macsim::Read::error(kAXErrorNoValue);
    if (json.contains("frontmostWriteError")) {
        const AXError code =
            readCode(json.at("frontmostWriteError"), memberPlace(place, "frontmostWriteError"));
        if (code != kAXErrorSuccess) {
            app.writeErrors["AXFrontmost"] = code;
        }
    }
    return app;
}

std::vector<macsim::FrontmostEntry> readFrontmost(const Json& json, const std::string& place) {
    std::vector<macsim::FrontmostEntry> timeline;
    requireArray(json, place);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string at = itemPlace(place, i);
        const Json& entry = requireObject(json[i], at);
        allowOnly(entry, at, {"at", "pid"});
        macsim::FrontmostEntry parsed;
        parsed.atNanos = readSeconds(requireMember(entry, at, "at"), memberPlace(at, "at"));
        const Json& pid = requireMember(entry, at, "pid");
        if (!pid.is_null()) {
            parsed.pid = readPid(pid, memberPlace(at, "pid"));
        }
        if (!timeline.empty() && parsed.atNanos < timeline.back().atNanos) {
            throw FormatError{memberPlace(at, "at"), "times must not decrease"};
        }
        timeline.push_back(parsed);
    }
    return timeline;
}

macsim::Failures readFailures(const Json& json, const std::string& place) {
    macsim::Failures failures;
    const std::pair<std::string_view, bool macsim::Failures::*> words[] = {
        {"eventSourceCreate", &macsim::Failures::eventSourceCreate},
        {"keyDownCreate", &macsim::Failures::keyDownCreate},
        {"keyUpCreate", &macsim::Failures::keyUpCreate},
        {"axValueCreate", &macsim::Failures::axValueCreate},
        {"eventTapCreate", &macsim::Failures::eventTapCreate},
        {"runLoopSourceCreate", &macsim::Failures::runLoopSourceCreate},
    };
    requireArray(json, place);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string& word = requireString(json[i], itemPlace(place, i));
        bool known = false;
        for (const auto& [name, flag] : words) {
            if (word == name) {
                failures.*flag = true;
                known = true;
            }
        }
        if (!known) {
            throw FormatError{itemPlace(place, i), "unknown failure \"" + word + "\""};
        }
    }
    return failures;
}

macsim::SessionEvent readEvent(const Json& json, const std::string& place) {
    const std::pair<std::string_view, CGEventType> types[] = {
        {"keyDown", kCGEventKeyDown},
        {"keyUp", kCGEventKeyUp},
        {"flagsChanged", kCGEventFlagsChanged},
        {"tapDisabledByTimeout", kCGEventTapDisabledByTimeout},
        {"tapDisabledByUserInput", kCGEventTapDisabledByUserInput},
    };
    const Json& entry = requireObject(json, place);
    allowOnly(entry, place, {"type", "flags", "keycode", "autorepeat"});
    const std::string typePlace = memberPlace(place, "type");
    const std::string& type = requireString(requireMember(entry, place, "type"), typePlace);
    macsim::SessionEvent event;
    bool known = false;
    for (const auto& [name, value] : types) {
        if (type == name) {
            event.type = value;
            known = true;
        }
    }
    if (!known) {
        throw FormatError{typePlace, "unknown event type \"" + type + "\""};
    }
    if (entry.contains("flags")) {
        event.flags = readFlags(entry.at("flags"), memberPlace(place, "flags"));
    }
    if (entry.contains("keycode")) {
        event.keycode = readInteger(entry.at("keycode"), memberPlace(place, "keycode"), 0,
                                    std::numeric_limits<CGKeyCode>::max());
    }
    if (entry.contains("autorepeat")) {
        event.autorepeat =
            readInteger(entry.at("autorepeat"), memberPlace(place, "autorepeat"), 0, 1);
    }
    return event;
}

// A repetition, {"repeat": N, NAME: [ITEM, ...]}: the count and the list of items (which are not
// repetitions themselves).
std::pair<std::size_t, const Json*> readRepetition(const Json& json, const std::string& place,
                                                   std::string_view name) {
    allowOnly(json, place, {"repeat", name});
    const auto count = static_cast<std::size_t>(
        readInteger(requireMember(json, place, "repeat"), memberPlace(place, "repeat"), 0,
                    static_cast<int64_t>(maxScriptedEvents)));
    const std::string itemsPlace = memberPlace(place, name);
    const Json& items = requireArray(requireMember(json, place, name), itemsPlace);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].is_object() && items[i].contains("repeat")) {
            throw FormatError{itemPlace(itemsPlace, i), "a repetition cannot hold another"};
        }
    }
    return {count, &items};
}

bool isRepetition(const Json& json) {
    return json.is_object() && json.contains("repeat");
}

std::vector<macsim::SessionEvent> readEvents(const Json& json, const std::string& place) {
    std::vector<macsim::SessionEvent> events;
    const auto add = [&events](const std::vector<macsim::SessionEvent>& more, std::size_t times,
                               const std::string& at) {
        if (!more.empty() && times > (maxScriptedEvents - events.size()) / more.size()) {
            throw FormatError{at,
                              "more than " + std::to_string(maxScriptedEvents) + " events in all"};
        }
        for (std::size_t i = 0; i < times; ++i) {
            events.insert(events.end(), more.begin(), more.end());
        }
    };
    requireArray(json, place);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string at = itemPlace(place, i);
        if (!isRepetition(json[i])) {
            add({readEvent(json[i], at)}, 1, at);
            continue;
        }
        const auto [count, items] = readRepetition(json[i], at, "events");
        std::vector<macsim::SessionEvent> once;
        for (std::size_t k = 0; k < items->size(); ++k) {
            once.push_back(readEvent((*items)[k], itemPlace(memberPlace(at, "events"), k)));
        }
        add(once, count, at);
    }
    return events;
}

macsim::ActivationNotification readActivation(const Json& json, const std::string& place) {
    using Kind = macsim::ActivationNotification::Kind;
    requireObject(json, place);
    allowOnly(json, place, {"userInfo", "application"});
    if (json.size() != 1) {
        throw FormatError{place, "expected one of {\"userInfo\": null}, {\"userInfo\": {}}, "
                                 "{\"application\": \"other\"} or {\"application\": {...}}"};
    }
    macsim::ActivationNotification notification;
    if (json.contains("userInfo")) {
        const Json& info = json.at("userInfo");
        const std::string at = memberPlace(place, "userInfo");
        if (info.is_null()) {
            notification.kind = Kind::noUserInfo;
        } else if (info.is_object() && info.empty()) {
            notification.kind = Kind::noApplicationKey;
        } else {
            throw FormatError{at, "expected null or {}"};
        }
        return notification;
    }
    const Json& application = json.at("application");
    const std::string at = memberPlace(place, "application");
    if (application.is_string()) {
        if (application.get<std::string>() != "other") {
            throw FormatError{at, "expected \"other\" or an application object"};
        }
        notification.kind = Kind::notAnApplication;
        return notification;
    }
    requireObject(application, at);
    allowOnly(application, at,
              {"bundleIdentifier", "localizedName", "executableURL", "processIdentifier"});
    notification.kind = Kind::application;
    macsim::ScriptedApplication& app = notification.application;
    const std::pair<std::string_view, std::optional<std::string> macsim::ScriptedApplication::*>
        texts[] = {
            {"bundleIdentifier", &macsim::ScriptedApplication::bundleIdentifier},
            {"localizedName", &macsim::ScriptedApplication::localizedName},
            {"executableURL", &macsim::ScriptedApplication::executableURL},
        };
    for (const auto& [name, member] : texts) {
        if (application.contains(name)) {
            app.*member = requireString(application.at(name), memberPlace(at, name));
        }
    }
    if (application.contains("processIdentifier")) {
        app.processIdentifier =
            readPid(application.at("processIdentifier"), memberPlace(at, "processIdentifier"));
    }
    return notification;
}

void readDesktop(const Json& json, const std::string& place, Scenario& scenario) {
    requireObject(json, place);
    allowOnly(json, place,
              {"trusted", "systemWideFocus", "apps", "elements", "frontmost", "failures", "events",
               "activations"});
    macsim::Desktop& desktop = scenario.desktop;
    if (json.contains("trusted")) {
        desktop.trusted = requireBool(json.at("trusted"), memberPlace(place, "trusted"));
    }
    if (json.contains("systemWideFocus")) {
        desktop.systemWide.attributes["AXFocusedUIElement"] =
            readOutcome(json.at("systemWideFocus"), memberPlace(place, "systemWideFocus"));
    }
    if (json.contains("apps")) {
        const std::string at = memberPlace(place, "apps");
        for (const auto& item : requireObject(json.at("apps"), at).items()) {
            const std::string appPlace = memberPlace(at, item.key());
            const pid_t pid = pidFromKey(item.key(), appPlace);
            if (desktop.apps.count(pid) != 0) {
                throw FormatError{appPlace, "the same process id is listed twice"};
            }
            desktop.apps[pid] = readApp(item.value(), appPlace);
        }
    }
    if (json.contains("elements")) {
        const std::string at = memberPlace(place, "elements");
        for (const auto& item : requireObject(json.at("elements"), at).items()) {
            desktop.elements[item.key()] = readElement(item.value(), memberPlace(at, item.key()));
        }
    }
    if (json.contains("frontmost")) {
        scenario.frontmost = readFrontmost(json.at("frontmost"), memberPlace(place, "frontmost"));
    }
    if (json.contains("failures")) {
        scenario.failures = readFailures(json.at("failures"), memberPlace(place, "failures"));
    }
    if (json.contains("events")) {
        scenario.events = readEvents(json.at("events"), memberPlace(place, "events"));
    }
    if (json.contains("activations")) {
        const std::string at = memberPlace(place, "activations");
        const Json& list = requireArray(json.at("activations"), at);
        for (std::size_t i = 0; i < list.size(); ++i) {
            scenario.activations.push_back(readActivation(list[i], itemPlace(at, i)));
        }
    }
}

std::vector<ExpectedWrite> readWrites(const Json& json, const std::string& place) {
    std::vector<ExpectedWrite> writes;
    requireArray(json, place);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string at = itemPlace(place, i);
        const Json& entry = requireArray(json[i], at);
        if (entry.size() != 3) {
            throw FormatError{at, "expected [TARGET, ATTRIBUTE, VALUE]"};
        }
        writes.push_back({requireString(entry[0], itemPlace(at, 0)),
                          requireString(entry[1], itemPlace(at, 1)),
                          readValue(entry[2], itemPlace(at, 2))});
    }
    return writes;
}

std::vector<ExpectedPost> readPosted(const Json& json, const std::string& place) {
    std::vector<ExpectedPost> posted;
    requireArray(json, place);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string at = itemPlace(place, i);
        const Json& entry = requireObject(json[i], at);
        allowOnly(entry, at, {"keycode", "down", "flags", "at"});
        ExpectedPost post;
        post.keycode = readInteger(requireMember(entry, at, "keycode"), memberPlace(at, "keycode"),
                                   0, std::numeric_limits<CGKeyCode>::max());
        post.down = requireBool(requireMember(entry, at, "down"), memberPlace(at, "down"));
        if (entry.contains("flags")) {
            post.flags = readFlags(entry.at("flags"), memberPlace(at, "flags"));
        }
        if (entry.contains("at")) {
            post.atNanos = readSeconds(entry.at("at"), memberPlace(at, "at"));
        }
        posted.push_back(post);
    }
    return posted;
}

// LINES: texts without a line feed, or repetitions {"repeat": N, "lines": [TEXT, ...]}. The
// result is every line followed by a line feed.
std::string readLines(const Json& json, const std::string& place) {
    std::string text;
    const auto add = [&text](const std::string& more, std::size_t times, const std::string& at) {
        if (!more.empty() && times > (maxExpectedOutputBytes - text.size()) / more.size()) {
            throw FormatError{at, "more than " + std::to_string(maxExpectedOutputBytes) +
                                      " bytes of lines in all"};
        }
        for (std::size_t i = 0; i < times; ++i) {
            text += more;
        }
    };
    const auto line = [](const Json& item, const std::string& at) {
        const std::string& value = requireString(item, at);
        if (value.find('\n') != std::string::npos) {
            throw FormatError{at, "a line cannot hold a line feed"};
        }
        return value + "\n";
    };
    requireArray(json, place);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::string at = itemPlace(place, i);
        if (!isRepetition(json[i])) {
            add(line(json[i], at), 1, at);
            continue;
        }
        const auto [count, items] = readRepetition(json[i], at, "lines");
        std::string once;
        for (std::size_t k = 0; k < items->size(); ++k) {
            once += line((*items)[k], itemPlace(memberPlace(at, "lines"), k));
        }
        add(once, count, at);
    }
    return text;
}

// "delivered": N, or {"below": N}.
void readDelivered(const Json& json, const std::string& place, Expectations& expect) {
    const int64_t most = std::numeric_limits<int32_t>::max();
    if (!json.is_object()) {
        expect.delivered = static_cast<std::size_t>(readInteger(json, place, 0, most));
        return;
    }
    allowOnly(json, place, {"below"});
    expect.deliveredBelow = static_cast<std::size_t>(
        readInteger(requireMember(json, place, "below"), memberPlace(place, "below"), 1, most));
}

Expectations readExpectations(const Json& json, const std::string& place) {
    requireObject(json, place);
    allowOnly(json, place,
              {"stdout", "stdoutLines", "stdoutLinesPrefix", "json", "exit", "elements", "writes",
               "posted", "elapsed", "delivered"});
    Expectations expect;
    const int outputForms = static_cast<int>(json.contains("stdout")) +
                            static_cast<int>(json.contains("stdoutLines")) +
                            static_cast<int>(json.contains("stdoutLinesPrefix"));
    if (outputForms > 1) {
        throw FormatError{place, "give one of \"stdout\", \"stdoutLines\" and "
                                 "\"stdoutLinesPrefix\", not more"};
    }
    if (json.contains("stdout")) {
        expect.stdoutText = requireString(json.at("stdout"), memberPlace(place, "stdout"));
    }
    if (json.contains("stdoutLines")) {
        expect.stdoutText = readLines(json.at("stdoutLines"), memberPlace(place, "stdoutLines"));
    }
    if (json.contains("stdoutLinesPrefix")) {
        expect.stdoutText =
            readLines(json.at("stdoutLinesPrefix"), memberPlace(place, "stdoutLinesPrefix"));
        expect.stdoutMayStopEarly = true;
    }
    if (json.contains("json")) {
        expect.json = requireObject(json.at("json"), memberPlace(place, "json"));
    }
    if (json.contains("exit")) {
        expect.exitCode =
            static_cast<int>(readInteger(json.at("exit"), memberPlace(place, "exit"), 0, 255));
    }
    if (json.contains("elements")) {
        const std::string at = memberPlace(place, "elements");
        for (const auto& element : requireObject(json.at("elements"), at).items()) {
            const std::string elementPlace = memberPlace(at, element.key());
            AttributeTable& table = expect.elements[element.key()];
            for (const auto& item : requireObject(element.value(), elementPlace).items()) {
                table[item.key()] =
                    readOutcome(item.value(), memberPlace(elementPlace, item.key()));
            }
        }
    }
    if (json.contains("writes")) {
        expect.writes = readWrites(json.at("writes"), memberPlace(place, "writes"));
    }
    if (json.contains("posted")) {
        expect.posted = readPosted(json.at("posted"), memberPlace(place, "posted"));
    }
    if (json.contains("elapsed")) {
        expect.elapsedNanos = readSeconds(json.at("elapsed"), memberPlace(place, "elapsed"));
    }
    if (json.contains("delivered")) {
        readDelivered(json.at("delivered"), memberPlace(place, "delivered"), expect);
    }
    return expect;
}

// "open", "reader-gone", {"reader": "stalls", "until": "events-delivered"} or
// {"reader": "never-reads"}.
StdoutReader readReader(const Json& json, const std::string& place) {
    if (json.is_string()) {
        const std::string& mode = json.get<std::string>();
        if (mode == "open" || mode == "reader-gone") {
            return mode == "open" ? StdoutReader::reads : StdoutReader::gone;
        }
    }
    if (!json.is_object()) {
        throw FormatError{place,
                          "expected \"open\", \"reader-gone\", {\"reader\": \"stalls\", "
                          "\"until\": \"events-delivered\"} or {\"reader\": \"never-reads\"}"};
    }
    allowOnly(json, place, {"reader", "until"});
    const std::string readerPlace = memberPlace(place, "reader");
    const std::string& reader = requireString(requireMember(json, place, "reader"), readerPlace);
    if (reader == "never-reads") {
        if (json.contains("until")) {
            throw FormatError{memberPlace(place, "until"), "a reader that never reads has no end"};
        }
        return StdoutReader::neverReads;
    }
    if (reader != "stalls") {
        throw FormatError{readerPlace, "expected \"stalls\" or \"never-reads\""};
    }
    const std::string untilPlace = memberPlace(place, "until");
    if (requireString(requireMember(json, place, "until"), untilPlace) != "events-delivered") {
        throw FormatError{untilPlace, "expected \"events-delivered\""};
    }
    return StdoutReader::stalls;
}

Scenario readScenario(const Json& json, const std::string& fileName) {
    const std::string place;
    if (!json.is_object()) {
        throw FormatError{place, "a scenario is one JSON object"};
    }
    allowOnly(json, place, {"name", "tool", "args", "text", "stdout", "desktop", "expect"});
    Scenario scenario;
    scenario.name = json.contains("name") ? requireString(json.at("name"), "/name") : fileName;
    scenario.tool = readTool(requireMember(json, place, "tool"), "/tool");
    if (json.contains("args")) {
        const Json& args = requireArray(json.at("args"), "/args");
        for (std::size_t i = 0; i < args.size(); ++i) {
            scenario.args.push_back(requireString(args[i], itemPlace("/args", i)));
        }
    }
    if (json.contains("text")) {
        scenario.text = readText(json.at("text"), "/text");
    }
    if (json.contains("stdout")) {
        scenario.stdoutReader = readReader(json.at("stdout"), "/stdout");
    }
    // Defaults that differ from an empty simulated desktop.
    scenario.desktop.trusted = true;
    scenario.desktop.systemWide.attributes["AXFocusedUIElement"] =
        macsim::Read::error(kAXErrorNoValue);
    if (json.contains("desktop")) {
        readDesktop(json.at("desktop"), "/desktop", scenario);
    }
    if (json.contains("expect")) {
        scenario.expect = readExpectations(json.at("expect"), "/expect");
        if ((scenario.expect.delivered || scenario.expect.deliveredBelow) &&
            scenario.tool == Tool::scribbet) {
            throw FormatError{"/expect/delivered", "scribbet takes no scripted events"};
        }
    }
    if (scenario.stdoutReader == StdoutReader::stalls && scenario.tool != Tool::gripwell) {
        throw FormatError{"/stdout/reader", "only gripwell has session events to wait for"};
    }
    return scenario;
}

} // namespace

std::string_view toolName(Tool tool) {
    switch (tool) {
    case Tool::scribbet:
        return "scribbet";
    case Tool::gripwell:
        return "gripwell";
    case Tool::vantor:
        return "vantor";
    }
    return "unknown";
}

macsim::Read attributeRead(const AttributeTable& table, const std::string& attribute) {
    auto found = table.find(attribute);
    return found == table.end() ? macsim::Read::error(kAXErrorAttributeUnsupported) : found->second;
}

std::variant<Scenario, FormatError> parseScenario(std::string_view text,
                                                  const std::string& fileName) {
    try {
        return readScenario(parseJson(text), fileName);
    } catch (const FormatError& error) {
        return error;
    } catch (const std::exception& error) {
        return FormatError{"", std::string("unreadable scenario: ") + error.what()};
    }
}

} // namespace simdesk
