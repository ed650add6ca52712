#include "scribbet/context.h"

namespace scribbet {

InsertionResolution resolveInsertionContext(AXUIElementRef) {
    return ResolutionFailure{"no_focused_text_input", std::nullopt, std::nullopt};
}

} // namespace scribbet
