// Walking from the focused element up to the element that holds the editable text.
#pragma once

#include "scribbet/ax.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace scribbet {

struct TextInsertionContext {
    ElementPtr element; // the element that passed every check; one reference, owned here
    std::optional<std::u16string> role;
    std::optional<std::u16string> subrole;
    std::u16string value;  // "AXValue" as read during the walk
    CFRange selectedRange; // as the platform gave it, not checked against the value
};

// Carries no platform error code and never an error word: the status says which check failed.
struct ResolutionFailure {
    std::string status; // "no_focused_text_input" or the status of the first failed check
    std::optional<std::u16string> role;
    std::optional<std::u16string> subrole;
};

using InsertionResolution = std::variant<TextInsertionContext, ResolutionFailure>;

inline constexpr std::array<std::u16string_view, 7> textLikeRoles = {
    u"AXComboBox",  u"AXSearchField", u"AXSecureTextField", u"AXTextArea",
    u"AXTextField", u"AXTextView",    u"AXWebArea"};

// Ancestors examined beyond the focused element itself.
inline constexpr int maxParentDepth = 6;

// Walks from `from` (an element, not NULL) up its "AXParent" chain, at most maxParentDepth + 1
// elements, to the first text-like element whose string value and selected range can be read and
// set. Only reads. `from` stays the caller's; a context holds one reference of its own to its
// element, a failure holds none. A failure carries the status of the highest candidate that
// failed, or "no_focused_text_input" with the role and subrole of `from` when there was none.
[[nodiscard]] InsertionResolution resolveInsertionContext(AXUIElementRef from);

} // namespace scribbet
