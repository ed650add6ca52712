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

struct ResolutionFailure {
    std::string status;
    std::optional<std::u16string> role;
    std::optional<std::u16string> subrole;
};

using InsertionResolution = std::variant<TextInsertionContext, ResolutionFailure>;

inline constexpr std::array<std::u16string_view, 7> textLikeRoles = {
    u"AXComboBox",  u"AXSearchField", u"AXSecureTextField", u"AXTextArea",
    u"AXTextField", u"AXTextView",    u"AXWebArea"};

// Ancestors examined beyond the focused element itself.
inline constexpr int maxParentDepth = 6;

// `from` stays the caller's; the result holds references of its own.
[[nodiscard]] InsertionResolution resolveInsertionContext(AXUIElementRef from);

} // namespace scribbet
