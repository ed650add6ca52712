// A scenario: one tool, its command line, the simulated desktop at the tool's start, and what
// must hold once the process has ended. docs/scenarios.md describes the file format.
#pragma once

#include "simdesk/notation.h"

#include <macsim/activations.h>
#include <macsim/control.h>
#include <macsim/keyboard.h>
#include <macsim/tap.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace simdesk {

enum class Tool { scribbet, gripwell, vantor };

std::string_view toolName(Tool tool);

// The command-line word that stands for the path of the text file.
inline constexpr std::string_view textFileWord = "@textfile";

// Allowed distance between an expected and an actual time on the simulated clock.
inline constexpr int64_t timeToleranceNanos = 500'000;

// Bounds of what a repetition may expand to, so that a small file cannot ask for a huge run.
inline constexpr std::size_t maxScriptedEvents = 1'000'000;
inline constexpr std::size_t maxExpectedOutputBytes = std::size_t{64} << 20;

// Who reads the tool's standard output, and when.
enum class StdoutReader {
    reads,      // everything, as it comes
    gone,       // nobody: the reading end is closed before the process starts
    stalls,     // nothing until every scripted session event has reached the tool (gripwell)
    neverReads, // nothing while the process runs; the pipe stays open
};

struct ExpectedWrite {
    std::string target; // element name, or "app:PID"
    std::string attribute;
    macsim::Value value;
};

struct ExpectedPost {
    int64_t keycode = 0;
    bool down = false;
    CGEventFlags flags = 0;
    std::optional<int64_t> atNanos;
};

// Attribute name to the outcome that reading it must give after the run.
using AttributeTable = std::map<std::string, macsim::Read>;

// How `attribute` reads from an element with that table: an attribute not listed is unsupported.
[[nodiscard]] macsim::Read attributeRead(const AttributeTable& table, const std::string& attribute);

struct Expectations {
    std::optional<std::string> stdoutText; // "stdout", or "stdoutLines" joined with line feeds
    bool stdoutMayStopEarly = false;       // "stdoutLinesPrefix": whole lines from the start
    std::optional<Json> json;              // the members of the one JSON line on stdout
    int exitCode = 0;
    std::map<std::string, AttributeTable> elements;
    std::optional<std::vector<ExpectedWrite>> writes;
    std::optional<std::vector<ExpectedPost>> posted;
    std::optional<int64_t> elapsedNanos;
    // Scripted events (gripwell) or activations (vantor) that reached the tool: exactly, or
    // fewer than.
    std::optional<std::size_t> delivered;
    std::optional<std::size_t> deliveredBelow;
};

struct Scenario {
    std::string name;
    Tool tool = Tool::scribbet;
    std::vector<std::string> args; // after the program path; may hold textFileWord
    std::string text;              // bytes of the text file
    StdoutReader stdoutReader = StdoutReader::reads;
    macsim::Desktop desktop;
    macsim::Failures failures;
    std::vector<macsim::FrontmostEntry> frontmost;
    std::vector<macsim::SessionEvent> events;
    std::vector<macsim::ActivationNotification> activations;
    Expectations expect;
};

// The scenario in `text`, or where and why the text is not one. `fileName` is the default name.
[[nodiscard]] std::variant<Scenario, FormatError> parseScenario(std::string_view text,
                                                                const std::string& fileName);

} // namespace simdesk
