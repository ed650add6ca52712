// Finding the element that has the keyboard focus, preferring one of the target process.
#pragma once

#include "scribbet/ax.h"

#include <optional>

namespace scribbet {

struct FocusedElement {
    ElementPtr element;              // owned by the caller
    std::optional<pid_t> focusedPid; // owner of `element`, when the platform can tell
};

[[nodiscard]] std::optional<FocusedElement> resolveFocusedElement(pid_t targetPid);

} // namespace scribbet
