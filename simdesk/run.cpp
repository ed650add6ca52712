#include "simdesk/run.h"

#include "gripwell/gripwell.h"
#include "scribbet/entry.h"
#include "vantor/vantor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace simdesk {

namespace {

// A fresh file holding the scenario's text, removed when this goes out of scope.
struct TextFile {
    std::string path;  // empty when the file could not be made
    std::string fault; // what went wrong, or empty

    explicit TextFile(const std::string& bytes) {
        std::error_code ignored;
        std::string pattern =
            (std::filesystem::temp_directory_path(ignored) / "simdesk-text-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            fault = std::string("cannot create the text file: ") + std::strerror(errno);
            return;
        }
        path = pattern;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                fault = std::string("cannot write the text file: ") + std::strerror(errno);
                break;
            }
            done += static_cast<std::size_t>(count);
        }
        ::close(fd);
    }
    ~TextFile() {
        if (!path.empty()) {
            ::unlink(path.c_str());
        }
    }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
};

int runTool(Tool tool, const std::vector<std::string>& commandLine) {
    switch (tool) {
    case Tool::scribbet:
        scribbet::run(commandLine); // ends the process itself
    case Tool::gripwell:
        return gripwell::run(commandLine);
    case Tool::vantor:
        return vantor::run(commandLine);
    }
    return EXIT_FAILURE;
}

std::string describeAltered(const macsim::DeliveredEvent& event) {
    std::string text = "event #" + std::to_string(event.index + 1) + " was ";
    switch (event.returned) {
    case macsim::Returned::null:
        return text + "swallowed (the callback returned NULL)";
    case macsim::Returned::otherEvent:
        return text + "replaced by another event";
    case macsim::Returned::sameEvent:
        break;
    }
    if (event.extraReferences != 0) {
        return text + "passed on with " + std::to_string(event.extraReferences) +
               " reference(s) of the callback left on it";
    }
    return text + "changed by the callback (flags " + showFlags(event.sent.flags) + " -> " +
           showFlags(event.after.flags) + ", keycode " + std::to_string(event.sent.keycode) +
           " -> " + std::to_string(event.after.keycode) + ")";
}

} // namespace

void buildDesktop(const Scenario& scenario) {
    macsim::reset();
    macsim::desktop() = scenario.desktop;
    macsim::failures() = scenario.failures;
    macsim::setFrontmostTimeline(scenario.frontmost);
    macsim::scriptSessionEvents(scenario.events);
    macsim::scriptActivations(scenario.activations);
}

Outcome runScenario(const Scenario& scenario) {
    Outcome outcome;
    outcome.commandLine.emplace_back(toolName(scenario.tool));
    std::optional<TextFile> textFile;
    for (const std::string& word : scenario.args) {
        if (word == textFileWord && !textFile) {
            textFile.emplace(scenario.text);
            if (!textFile->fault.empty()) {
                outcome.setupFault = textFile->fault;
                return outcome;
            }
            outcome.textFilePath = textFile->path;
        }
        outcome.commandLine.push_back(word == textFileWord ? outcome.textFilePath : word);
    }

    buildDesktop(scenario);
    macsim::ChildOptions options;
    switch (scenario.stdoutReader) {
    case StdoutReader::reads:
        break;
    case StdoutReader::gone:
        options.readerGone = true;
        break;
    case StdoutReader::stalls:
        options.reading = macsim::Reading::stalled;
        // In the child: the reader starts once the run loop has handed out the last event.
        macsim::onSessionEventsDone(&macsim::resumeReading);
        break;
    case StdoutReader::neverReads:
        options.reading = macsim::Reading::never;
        break;
    }
    options.timeoutSeconds = childTimeoutSeconds;
    options.report = desktopReport;
    outcome.process = macsim::runChild(
        [&scenario, &outcome] { return runTool(scenario.tool, outcome.commandLine); }, options);
    readDesktopReport(outcome.process.report, outcome);
    return outcome;
}

std::string desktopReport() {
    // Runs inside exit(): nothing may escape from here.
    try {
        Json writes = Json::array();
        for (const macsim::Write& write : macsim::writes()) {
            writes.push_back({write.target, write.attribute, valueJson(write.value),
                              static_cast<int32_t>(write.result)});
        }
        Json elements = Json::object();
        for (const auto& [name, element] : macsim::desktop().elements) {
            Json attributes = Json::object();
            for (const auto& [attribute, read] : element.attributes) {
                attributes[attribute] = outcomeJson(read);
            }
            elements[name] = attributes;
        }
        Json posted = Json::array();
        for (const macsim::PostedEvent& event : macsim::postedEvents()) {
            posted.push_back({{"tap", static_cast<uint32_t>(event.tap)},
                              {"keycode", event.keycode},
                              {"down", event.down},
                              {"flags", event.flags},
                              {"atNanos", event.atNanos}});
        }
        // A tap callback must hand every event back as it came: no change, no other event, no
        // reference kept.
        Json altered = Json::array();
        const std::vector<macsim::DeliveredEvent> delivered = macsim::deliveredEvents();
        for (const macsim::DeliveredEvent& event : delivered) {
            if (!event.passedThroughUnchanged()) {
                altered.push_back(describeAltered(event));
            }
        }
        return showJson({{"writes", writes},
                         {"elements", elements},
                         {"posted", posted},
                         {"nowNanos", macsim::nowNanos()},
                         {"eventsDelivered", delivered.size()},
                         {"activationsDelivered", macsim::deliveredActivations()},
                         {"alteredEvents", altered}});
    } catch (const std::exception& error) {
        return std::string("report failed: ") + error.what();
    }
}

void readDesktopReport(const std::string& report, Outcome& outcome) {
    if (report.empty()) {
        outcome.reportFault = "the process ended without reporting what it did to the desktop";
        return;
    }
    try {
        const Json json = parseJson(report);
        for (const Json& write : json.at("writes")) {
            outcome.writes.push_back({write.at(0).get<std::string>(),
                                      write.at(1).get<std::string>(),
                                      readValue(write.at(2), "/writes"),
                                      static_cast<AXError>(write.at(3).get<int32_t>())});
        }
        for (const auto& element : json.at("elements").items()) {
            AttributeTable& table = outcome.elements[element.key()];
            for (const auto& attribute : element.value().items()) {
                table[attribute.key()] = readOutcome(attribute.value(), "/elements");
            }
        }
        for (const Json& event : json.at("posted")) {
            macsim::PostedEvent posted;
            posted.tap = static_cast<CGEventTapLocation>(event.at("tap").get<uint32_t>());
            posted.keycode = event.at("keycode").get<CGKeyCode>();
            posted.down = event.at("down").get<bool>();
            posted.flags = event.at("flags").get<CGEventFlags>();
            posted.atNanos = event.at("atNanos").get<int64_t>();
            outcome.posted.push_back(posted);
        }
        outcome.elapsedNanos = json.at("nowNanos").get<int64_t>();
        outcome.eventsDelivered = json.at("eventsDelivered").get<std::size_t>();
        outcome.activationsDelivered = json.at("activationsDelivered").get<std::size_t>();
        outcome.alteredEvents = json.at("alteredEvents").get<std::vector<std::string>>();
    } catch (const FormatError& error) {
        outcome.reportFault = "the report of the desktop did not read back (" + error.place + ": " +
                              error.reason + ")";
    } catch (const std::exception& error) {
        outcome.reportFault =
            std::string("the report of the desktop did not read back: ") + error.what();
    }
}

} // namespace simdesk
