#include "scribbet/focus.h"

namespace scribbet {

namespace {

// "AXFocusedUIElement" of `owner`, owned by the caller; none when `owner` could not be made.
ElementPtr copyFocusedElement(const ElementPtr& owner) {
    if (owner == nullptr) {
        return nullptr;
    }
    return copyElementAttribute(owner.get(), kAXFocusedUIElementAttribute);
}

} // namespace

std::optional<FocusedElement> resolveFocusedElement(pid_t targetPid) {
    // Create rule: both elements are ours and are released on every way out.
    const ElementPtr systemWide = base::adopt(AXUIElementCreateSystemWide());

    // The system-wide focus, taken only when it belongs to the target.
    if (ElementPtr element = copyFocusedElement(systemWide)) {
        const std::optional<pid_t> pid = copyElementPid(element.get());
        if (pid == targetPid) {
            return FocusedElement{std::move(element), pid};
        }
    }

    // The target's own focus, whoever the platform says owns it. The application element is
    // made only now, so that a focus found above costs no second element.
    const ElementPtr application = base::adopt(AXUIElementCreateApplication(targetPid));
    if (ElementPtr element = copyFocusedElement(application)) {
        const std::optional<pid_t> pid = copyElementPid(element.get());
        return FocusedElement{std::move(element), pid};
    }

    // Any focus at all, read afresh: the caller reports a focus in another process.
    if (ElementPtr element = copyFocusedElement(systemWide)) {
        const std::optional<pid_t> pid = copyElementPid(element.get());
        return FocusedElement{std::move(element), pid};
    }
    return std::nullopt;
}

} // namespace scribbet
