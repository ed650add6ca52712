#include "scribbet/focus.h"

namespace scribbet {

std::optional<FocusedElement> resolveFocusedElement(pid_t) {
    return std::nullopt;
}

} // namespace scribbet
