// The command line of simdesk: run scenario files and report, or show one run to a person.
#pragma once

#include "simdesk/notation.h"

#include <string>
#include <vector>

namespace simdesk {

// What the report says of one scenario: "PASS name" when there are no `reasons`, otherwise
// "FAIL name" and every line of each reason indented by four spaces; each line ends in a line
// feed, and the name is escaped so that it stays on its line.
[[nodiscard]] std::string verdict(const std::string& name, const std::vector<std::string>& reasons);

// The reason given for a file at `path` that is not a scenario.
[[nodiscard]] std::string faultText(const std::string& path, const FormatError& error);

// `arguments` without the program name. Writes the report on standard output and returns the
// exit status: 0 when every scenario passed, 1 when one failed, 2 for a bad command line.
int runCommandLine(const std::vector<std::string>& arguments);

} // namespace simdesk
