// The search for the deepest focused accessible under a window, for applications that offer no
// Collection query: a depth-first walk through what is showing, bounded in calls to the
// application and in time. Pure: it sees the tree only through the two questions it is given, so it
// is unit-tested on trees of any shape.
#pragma once

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace xdesk {

// What the walk asks of one accessible.
struct WalkStates {
    bool focused = false;
    bool showing = false;
};

struct WalkBudget {
    int calls = 0;                                        // questions to the application, at most
    std::function<bool()> expired = [] { return false; }; // the time is up
};

// The deepest focused accessible below `root` (not `root` itself), or nothing. Toolkits mark the
// whole chain from the window to the focused widget FOCUSED (Qt does), and may leave a stale mark
// on something that is not showing: so only showing accessibles are entered or taken, and once a
// focused one is found the walk goes on only below it. `states` and `children` each count as one
// call; a question that fails leaves that accessible out. When the budget runs out, the deepest
// focused accessible found so far is the answer.
template <class Node>
std::optional<Node>
deepestFocused(const Node& root, const WalkBudget& budget,
               const std::function<std::optional<WalkStates>(const Node&)>& states,
               const std::function<std::optional<std::vector<Node>>(const Node&)>& children) {
    int calls = 0;
    const auto spend = [&] { return calls++ < budget.calls && !budget.expired(); };
    std::vector<Node> pending;
    const auto pushChildren = [&](const Node& node) {
        if (!spend()) {
            return false;
        }
        std::optional<std::vector<Node>> below = children(node);
        if (below) {
            for (auto it = below->rbegin(); it != below->rend(); ++it) {
                pending.push_back(std::move(*it));
            }
        }
        return true;
    };
    std::optional<Node> deepest;
    if (!pushChildren(root)) {
        return deepest;
    }
    while (!pending.empty()) {
        Node current = std::move(pending.back());
        pending.pop_back();
        if (!spend()) {
            break;
        }
        const std::optional<WalkStates> read = states(current);
        if (!read || !read->showing) {
            continue;
        }
        if (read->focused) {
            // The focus lies below this one, if anywhere deeper: the rest is left.
            pending.clear();
            deepest = current;
        }
        if (!pushChildren(current)) {
            break;
        }
    }
    return deepest;
}

} // namespace xdesk
