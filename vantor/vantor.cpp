#include "vantor/vantor.h"

#include "base/line_out.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace vantor {
namespace {

// A field as written into a line: line feeds and carriage returns become spaces. Neither byte
// occurs inside a multi-byte UTF-8 sequence, so replacing bytes is safe.
void appendField(std::string& line, std::string_view text) {
    for (char c : text) {
        line += (c == '\n' || c == '\r') ? ' ' : c;
    }
}

} // namespace

std::optional<std::string> activationLine(const RunningApplication& application) {
    std::string_view name;
    if (application.localizedName) {
        name = *application.localizedName;
    } else if (application.executableName) {
        name = *application.executableName;
    }
    if (name.empty()) {
        return std::nullopt;
    }
    std::string line = "APP:";
    appendField(line, application.bundleIdentifier.value_or(std::string()));
    line += '|';
    appendField(line, name);
    line += '|';
    line += std::to_string(application.processIdentifier);
    return line;
}

void emit(std::string_view line) {
    // The line and its line feed leave in one write(2), unbuffered, so the host sees the line at
    // once and never half of it before the rest.
    std::string record(line);
    record += '\n';
    // A host may hand over a non-blocking pipe: vantor holds up nobody's input, so it waits for
    // the reader and finishes the line rather than leave the head of one.
    switch (base::writeAllWaiting(STDOUT_FILENO, record).outcome) {
    case base::WriteOutcome::readerGone:
        // SIGPIPE is ignored (see run), so a reader that has gone shows as an outcome.
        std::exit(0);
    case base::WriteOutcome::written:
    case base::WriteOutcome::wouldBlock:
    case base::WriteOutcome::failed:
        return;
    }
}

void handleActivation(const RunningApplication& application) {
    if (auto line = activationLine(application)) {
        emit(*line);
    }
}

int run(const std::vector<std::string>& /*args*/) {
    // Without this a write to a pipe whose reader has gone would kill the process by signal;
    // ignored, the write fails with EPIPE and emit ends the run with status 0.
    std::signal(SIGPIPE, SIG_IGN);
    emit("ready");
    observeActivations(&handleActivation);
    runMainRunLoop();
    return 0;
}

} // namespace vantor
