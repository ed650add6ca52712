// Runs a scenario's tool in a child process, as a host would start it, against the scenario's
// desktop, and brings back what came out of the process and what it did to the desktop.
#pragma once

#include "simdesk/scenario.h"

#include <macsim/child.h>

#include <string>
#include <vector>

namespace simdesk {

// A child still running after this long is ended with SIGALRM: the tool hung.
inline constexpr unsigned childTimeoutSeconds = 10;

struct Outcome {
    std::vector<std::string> commandLine; // as the tool got it, program name first
    std::string textFilePath;             // what textFileWord stood for, if it was used
    macsim::ChildResult process;
    std::string setupFault;  // why the tool could not be started (the text file, say), or empty
    std::string reportFault; // why nothing came back of what the child did to the desktop
    // What the child did to the desktop, when reportFault is empty:
    std::vector<macsim::Write> writes;              // every attribute write, in order
    std::map<std::string, AttributeTable> elements; // every named element when the child ended
    std::vector<macsim::PostedEvent> posted;
    int64_t elapsedNanos = 0;
    std::size_t eventsDelivered = 0;        // scripted session events that reached a tap callback
    std::size_t activationsDelivered = 0;   // scripted activations that reached an observer
    std::vector<std::string> alteredEvents; // tap deliveries not passed on as they came
};

// Makes this process's simulated desktop the scenario's: everything a child forked afterwards
// starts with.
void buildDesktop(const Scenario& scenario);

// buildDesktop, then the tool's entry in a child with the scenario's command line.
[[nodiscard]] Outcome runScenario(const Scenario& scenario);

// The child's report of the simulated desktop as it is now, and reading it back into `outcome`
// (a report that does not read back sets `outcome.reportFault`).
[[nodiscard]] std::string desktopReport();
void readDesktopReport(const std::string& report, Outcome& outcome);

} // namespace simdesk
