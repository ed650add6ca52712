// The account of one run for a person (`simdesk --show`): the command line, what came out, and
// every change on the desktop, whatever the expectations say.
#pragma once

#include "simdesk/run.h"

#include <optional>
#include <string>
#include <vector>

namespace simdesk {

// A text field's value with its selection drawn in: "Hello [world]" for a selection, "Hello |"
// for a caret; positions count UTF-16 units. A selection that does not lie inside the value is
// named after the text instead. Control characters are escaped.
[[nodiscard]] std::string drawField(const std::u16string& value,
                                    const std::optional<CFRange>& selection);

// `differences` are those of the run; the account ends with the verdict.
[[nodiscard]] std::string showRun(const Scenario& scenario, const Outcome& outcome,
                                  const std::vector<std::string>& differences);

} // namespace simdesk
