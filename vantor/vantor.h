// vantor: reports which application becomes active, one line per activation on standard output.
#pragma once

#include "vantor/observer.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

// The line for one activation, without its line feed: "APP:" bundle identifier "|" name "|" pid.
// The bundle identifier is empty when absent. The name is localizedName when present, even when
// empty; otherwise the executable's file name; otherwise empty. An empty name gives no line.
// A line feed or carriage return inside a field becomes a space, so that a name can neither
// split its line nor forge another; "|" is kept as it is.
[[nodiscard]] std::optional<std::string> activationLine(const RunningApplication& application);

// Writes `line` and a line feed to standard output in one unbuffered write. When the write fails
// because standard output's reader has gone, the process ends with status 0: nobody is left to
// tell. A non-blocking standard output that is full is waited for until it takes the whole line.
// Other write failures are ignored, and what could not be written is dropped.
void emit(std::string_view line);

// Writes the activation line for `application`, if it has one.
void handleActivation(const RunningApplication& application);

// The whole tool: writes "ready", registers the observer and serves the main run loop; returns
// 0 if the run loop ever returns. The arguments are not read.
int run(const std::vector<std::string>& args);

} // namespace vantor
