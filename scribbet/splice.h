// Replacing the selected range of the element's value with the text, and moving the caret.
#pragma once

#include "scribbet/context.h"
#include "scribbet/response.h"

#include <optional>
#include <string>

namespace scribbet {

// Writes the new value and the caret, and returns the run's result. The context's element is
// released before it returns.
[[nodiscard]] HelperResponse runDirectInsertion(TextInsertionContext context,
                                                const std::u16string& text, pid_t targetPid,
                                                std::optional<pid_t> focusedPid);

} // namespace scribbet
