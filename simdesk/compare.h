// Checks an outcome against a scenario's expectations.
#pragma once

#include "simdesk/run.h"

#include <string>
#include <vector>

namespace simdesk {

// Every way in which the outcome breaks the expectations, in a fixed order (process, stderr,
// stdout, json, elements, writes, posted events, elapsed time). Each entry is one or more lines
// without a final line feed, readable on its own: what was expected and what happened. Empty when
// every expectation holds. Standard error must always be empty.
[[nodiscard]] std::vector<std::string> differences(const Scenario& scenario,
                                                   const Outcome& outcome);

// How an attribute reads after the run: its outcome in the report, or the outcome that an
// attribute nobody listed gives.
[[nodiscard]] macsim::Read finalRead(const Outcome& outcome, const std::string& element,
                                     const std::string& attribute);

[[nodiscard]] std::string showWrite(const macsim::Write& write);
[[nodiscard]] std::string showPosted(const macsim::PostedEvent& event);

} // namespace simdesk
