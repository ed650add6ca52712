// The command line of simdesk: run scenario files and report, or show one run to a person.
#pragma once

#include <string>
#include <vector>

namespace simdesk {

// `arguments` without the program name. Writes the report on standard output and returns the
// exit status: 0 when every scenario passed, 1 when one failed, 2 for a bad command line.
int runCommandLine(const std::vector<std::string>& arguments);

} // namespace simdesk
