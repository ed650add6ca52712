// The walk for the focus in applications without a Collection query, on trees of any shape.
#include "focus_walk.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

namespace {

using xdesk::WalkStates;

// A tree of numbered nodes, and how many questions the walk asked of it.
struct Tree {
    std::map<int, std::vector<int>> children;
    std::map<int, WalkStates> states;
    int calls = 0;

    std::optional<int> deepest(int budget) {
        return xdesk::deepestFocused<int>(
            0, {budget, [] { return false; }},
            [this](const int& node) -> std::optional<WalkStates> {
                ++calls;
                const auto found = states.find(node);
                return found != states.end() ? std::optional(found->second) : std::nullopt;
            },
            [this](const int& node) -> std::optional<std::vector<int>> {
                ++calls;
                return children[node];
            });
    }
};

// KWrite's shape: a focused group, a stale focused tab that is not showing, then the chain down
// to the focused editor. The answer is the editor, not the first focused container.
TEST(FocusWalk, FindsTheDeepestFocusedAccessibleThatIsShowing) {
    Tree tree;
    tree.children = {{0, {1, 2}}, {2, {3, 4}}, {4, {5, 6}}, {5, {}}, {6, {7}}};
    tree.states = {{1, {false, true}}, {2, {true, true}}, {3, {true, false}}, {4, {false, true}},
                   {5, {false, true}}, {6, {true, true}}, {7, {true, true}}};
    EXPECT_EQ(tree.deepest(100), 7);
}

TEST(FocusWalk, NothingFocusedIsNothing) {
    Tree tree;
    tree.children = {{0, {1}}, {1, {2}}};
    tree.states = {{1, {false, true}}, {2, {false, true}}};
    EXPECT_EQ(tree.deepest(100), std::nullopt);
}

// A list of 50,000 items that does not manage its descendants, before the focused editor: the
// walk stops at its budget of calls, whatever the size; a focus found before the list is kept.
TEST(FocusWalk, AHugeListCostsNoMoreThanTheBudget) {
    Tree tree;
    std::vector<int> items;
    for (int item = 100; item < 50'100; ++item) {
        items.push_back(item);
        tree.states[item] = {false, true};
    }
    tree.children = {{0, {1, 2}}, {1, {10}}, {10, items}, {2, {3}}};
    tree.states[1] = {true, true};
    tree.states[10] = {false, true};
    tree.states[2] = {false, true};
    tree.states[3] = {true, true};
    EXPECT_EQ(tree.deepest(600), 1);
    EXPECT_LE(tree.calls, 600);
}

TEST(FocusWalk, TheTimeRunningOutEndsTheWalk) {
    Tree tree;
    tree.children = {{0, {1}}, {1, {2}}};
    tree.states = {{1, {true, true}}, {2, {true, true}}};
    int asked = 0;
    const std::optional<int> found = xdesk::deepestFocused<int>(
        0, {100, [&asked] { return ++asked > 2; }},
        [&tree](const int& node) -> std::optional<WalkStates> { return tree.states[node]; },
        [&tree](const int& node) -> std::optional<std::vector<int>> {
            return tree.children[node];
        });
    EXPECT_EQ(found, 1);
}

} // namespace
