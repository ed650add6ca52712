#include "focus.h"

#include "x11.h"

#include <algorithm>

namespace xdesk {

namespace {

// For applications without the Collection interface: a depth-first search for the focused
// accessible through what is showing, bounded so that a huge tree costs a bounded time. Lists and
// tables that manage their own descendants are not entered.
constexpr int walkBudget = 400;

AXError walkForFocus(AtspiAccessible* root, AccessiblePtr* focused) {
    std::vector<AccessiblePtr> pending;
    if (const AXError failed = childrenOf(root, &pending); failed != kAXErrorSuccess) {
        return failed;
    }
    std::reverse(pending.begin(), pending.end());
    for (int visited = 0; !pending.empty() && visited < walkBudget; ++visited) {
        AccessiblePtr current = std::move(pending.back());
        pending.pop_back();
        StateSetPtr states;
        if (statesOf(current.get(), &states) != kAXErrorSuccess) {
            continue;
        }
        if (hasState(states, ATSPI_STATE_FOCUSED)) {
            *focused = std::move(current);
            return kAXErrorSuccess;
        }
        if (!hasState(states, ATSPI_STATE_SHOWING) ||
            hasState(states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
            continue;
        }
        std::vector<AccessiblePtr> children;
        if (childrenOf(current.get(), &children) == kAXErrorSuccess) {
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                pending.push_back(std::move(*it));
            }
        }
    }
    return kAXErrorNoValue;
}

// The focused accessible under `window`: one Collection query that the application runs itself,
// so the size of the tree costs this process nothing.
AXError focusUnder(AtspiAccessible* window, AccessiblePtr* focused) {
    bool collection = false;
    if (const AXError failed = offers(window, Interface::collection, &collection);
        failed != kAXErrorSuccess) {
        return failed;
    }
    if (!collection) {
        return walkForFocus(window, focused);
    }
    const StateSetPtr wanted(atspi_state_set_new(nullptr));
    atspi_state_set_add(wanted.get(), ATSPI_STATE_FOCUSED);
    const GObjectPtr<AtspiMatchRule> rule(atspi_match_rule_new(
        wanted.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
        ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
    GArray* matches = nullptr;
    const AXError failed = callApplication(window, [&](GError** error) {
        matches =
            atspi_collection_get_matches(ATSPI_COLLECTION(window), rule.get(),
                                         ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error);
    });
    if (matches == nullptr) {
        return failed != kAXErrorSuccess ? failed : kAXErrorNoValue;
    }
    // Transfer full: the array and a reference to each accessible in it are ours.
    for (guint i = 0; i < matches->len; ++i) {
        AccessiblePtr match(g_array_index(matches, AtspiAccessible*, i));
        if (*focused == nullptr && failed == kAXErrorSuccess) {
            *focused = std::move(match);
        }
    }
    g_array_free(matches, TRUE);
    if (failed != kAXErrorSuccess) {
        return failed;
    }
    return *focused != nullptr ? kAXErrorSuccess : kAXErrorNoValue;
}

// The focused accessible in the active window of one of `candidates`. The active window is
// looked for first: toolkits report the focus only there, and a search through inactive
// windows would be wasted.
AXError focusIn(const std::vector<AccessiblePtr>& candidates, AccessiblePtr* focused) {
    AXError outcome = kAXErrorNoValue;
    for (const AccessiblePtr& application : candidates) {
        std::vector<AccessiblePtr> windows;
        if (const AXError failed = childrenOf(application.get(), &windows);
            failed != kAXErrorSuccess) {
            outcome = failed;
            continue;
        }
        for (const AccessiblePtr& window : windows) {
            StateSetPtr states;
            if (const AXError failed = statesOf(window.get(), &states); failed != kAXErrorSuccess) {
                outcome = failed;
                continue;
            }
            if (!hasState(states, ATSPI_STATE_ACTIVE)) {
                continue;
            }
            if (hasState(states, ATSPI_STATE_FOCUSED)) {
                *focused = AccessiblePtr(static_cast<AtspiAccessible*>(g_object_ref(window.get())));
                return kAXErrorSuccess;
            }
            const AXError found = focusUnder(window.get(), focused);
            if (found == kAXErrorSuccess) {
                return found;
            }
            if (found != kAXErrorNoValue) {
                outcome = found;
            }
        }
    }
    return outcome;
}

} // namespace

AXError applications(std::optional<pid_t> pid, std::vector<AccessiblePtr>* found) {
    const AccessiblePtr desktop(atspi_get_desktop(0));
    if (desktop == nullptr) {
        return kAXErrorCannotComplete;
    }
    std::vector<AccessiblePtr> all;
    if (const AXError failed = childrenOf(desktop.get(), &all); failed != kAXErrorSuccess) {
        return failed;
    }
    for (AccessiblePtr& application : all) {
        pid_t owner = 0;
        if (!pid || (pidOf(application.get(), &owner) == kAXErrorSuccess && owner == *pid)) {
            found->push_back(std::move(application));
        }
    }
    return kAXErrorSuccess;
}

AXError copyFocusIn(const std::vector<AccessiblePtr>& candidates, CFTypeRef* value) {
    AccessiblePtr focused;
    if (const AXError failed = focusIn(candidates, &focused); failed != kAXErrorSuccess) {
        return failed;
    }
    *value = newElement(std::move(focused));
    return kAXErrorSuccess;
}

namespace {

// The focused accessible of the desktop: in the application of the window that the window
// manager says is active, or without one in every application.
AXError systemWideFocus(AccessiblePtr* focused) {
    const x11::ActiveWindow active = x11::activeWindow();
    if (active.managed && !active.pid) {
        return kAXErrorNoValue; // no active window, or one that no process owns
    }
    std::vector<AccessiblePtr> candidates;
    if (const AXError failed = applications(active.pid, &candidates); failed != kAXErrorSuccess) {
        return failed;
    }
    return focusIn(candidates, focused);
}

} // namespace

AXError copySystemWideFocus(CFTypeRef* value) {
    AccessiblePtr focused;
    if (const AXError failed = systemWideFocus(&focused); failed != kAXErrorSuccess) {
        return failed;
    }
    *value = newElement(std::move(focused));
    return kAXErrorSuccess;
}

bool focusIsTerminal() {
    AccessiblePtr focused;
    if (!accessibilityReady() || systemWideFocus(&focused) != kAXErrorSuccess) {
        return false;
    }
    AtspiRole role = ATSPI_ROLE_INVALID;
    const AXError failed = callApplication(focused.get(), [&](GError** error) {
        role = atspi_accessible_get_role(focused.get(), error);
    });
    return failed == kAXErrorSuccess && role == ATSPI_ROLE_TERMINAL;
}

} // namespace xdesk
