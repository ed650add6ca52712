#include "scribbet/context.h"

#include "base/utf.h"

#include <algorithm>

namespace scribbet {

namespace {

// Exact comparison, case included.
bool isTextLikeRole(const std::optional<std::u16string>& role) {
    return role &&
           std::find(textLikeRoles.begin(), textLikeRoles.end(), *role) != textLikeRoles.end();
}

// The checks that the splice depends on, in their fixed order: the selected range when all pass,
// otherwise the status word of the first that fails. Later checks are not made, so a failing
// candidate costs no further calls to the other application.
std::variant<CFRange, std::string_view> checkCandidate(AXUIElementRef element, bool hasValue,
                                                       bool valueIsString) {
    if (!hasValue) {
        return std::string_view("value_unavailable");
    }
    if (!valueIsString) {
        return std::string_view("value_not_string");
    }
    if (!isAttributeSettable(element, kAXValueAttribute)) {
        return std::string_view("value_not_settable");
    }
    std::optional<CFRange> range;
    {
        const ValuePtr selection = copyAttributeValue(element, kAXSelectedTextRangeAttribute);
        if (selection == nullptr) {
            return std::string_view("selection_unavailable");
        }
        range = parseSelectedTextRange(selection.get());
    }
    if (!range) {
        return std::string_view("selection_not_range");
    }
    if (!isAttributeSettable(element, kAXSelectedTextRangeAttribute)) {
        return std::string_view("selection_not_settable");
    }
    return *range;
}

} // namespace

InsertionResolution resolveInsertionContext(AXUIElementRef from) {
    // Kept only for "no_focused_text_input"; the walk reads both again when it examines `from`.
    std::optional<std::u16string> focusedRole = copyStringAttribute(from, kAXRoleAttribute);
    std::optional<std::u16string> focusedSubrole = copyStringAttribute(from, kAXSubroleAttribute);

    std::optional<ResolutionFailure> recorded; // from the highest candidate that failed so far
    ElementPtr current = base::retain(from);   // the caller keeps its own reference
    for (int examined = 1;; ++examined) {
        std::optional<std::u16string> role = copyStringAttribute(current.get(), kAXRoleAttribute);
        std::optional<std::u16string> subrole =
            copyStringAttribute(current.get(), kAXSubroleAttribute);
        bool hasValue = false;
        std::optional<std::u16string> value;
        {
            // Copy rule: the raw value is ours; its text is copied out and the object released.
            const ValuePtr rawValue = copyAttributeValue(current.get(), kAXValueAttribute);
            hasValue = rawValue != nullptr;
            value = base::stringContents(rawValue.get());
        }

        if (isTextLikeRole(role) || value) {
            std::variant<CFRange, std::string_view> checked =
                checkCandidate(current.get(), hasValue, value.has_value());
            if (const CFRange* range = std::get_if<CFRange>(&checked)) {
                return TextInsertionContext{std::move(current), std::move(role), std::move(subrole),
                                            std::move(*value), *range};
            }
            recorded = ResolutionFailure{std::string(std::get<std::string_view>(checked)),
                                         std::move(role), std::move(subrole)};
        }

        // The parent of the last examined element is read too, and then dropped unexamined.
        ElementPtr parent = copyElementAttribute(current.get(), kAXParentAttribute);
        if (examined > maxParentDepth || parent == nullptr) {
            break;
        }
        current = std::move(parent);
    }

    if (recorded) {
        return std::move(*recorded);
    }
    return ResolutionFailure{"no_focused_text_input", std::move(focusedRole),
                             std::move(focusedSubrole)};
}

} // namespace scribbet
