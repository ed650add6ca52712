// Finding the element that has the keyboard focus, preferring one of the target process.
#pragma once

#include "scribbet/ax.h"

#include <optional>

namespace scribbet {

struct FocusedElement {
    ElementPtr element;              // owned by the caller
    std::optional<pid_t> focusedPid; // owner of `element`, when the platform can tell
};

// Tries, in order: the system-wide focus when its owner is the target; the target application's
// own focus; the system-wide focus read afresh, whoever owns it. Nothing when all three come back
// empty. Platform errors are not reported; only the returned element survives the call.
[[nodiscard]] std::optional<FocusedElement> resolveFocusedElement(pid_t targetPid);

} // namespace scribbet
