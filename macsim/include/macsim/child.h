// Runs a tool's entry in a forked child process, as a host would start the tool: standard output
// and standard error are captured, and the exit status is returned. The desktop that the parent
// built before the call is the child's desktop at start; what the child did to it comes back
// through `report`, which runs in the child when it exits (the tools end through exit()).
#pragma once

#include <functional>
#include <string>

namespace macsim {

// How the parent reads the child's standard output while the child runs.
enum class Reading {
    asWritten, // everything, as soon as it is written
    stalled,   // nothing until the child calls resumeReading() or ends; then everything
    never,     // nothing while the child runs: the pipe stays open and fills up. What it holds
               // when the child has ended is read then
};

struct ChildOptions {
    bool readerGone = false;              // standard output has no reader from the start
    Reading reading = Reading::asWritten; // when there is a reader
    std::function<std::string()> report;  // runs in the child at exit; its text comes back
    unsigned timeoutSeconds = 20;         // a child still running then is killed (SIGALRM)
};

struct ChildResult {
    std::string out;
    std::string err;
    int exitCode = -1; // -1 when the child did not exit normally
    int signal = 0;    // the signal that ended it, if any
    std::string report;
};

ChildResult runChild(const std::function<int()>& entry, const ChildOptions& options = {});

// In a child started with Reading::stalled: from now on the parent reads standard output.
// Anywhere else, and when called again, it does nothing.
void resumeReading();

// A ready-made report: "live N" (objects still alive at exit), then the call log, one call a line.
std::string liveObjectsAndCalls();

} // namespace macsim
