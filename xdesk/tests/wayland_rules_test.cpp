// The Wayland session's pure rules: which toplevel of the compositor's list is the target's
// window, and which window events on the accessibility bus make an application activation.
#include "wayland_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using xdesk::wayland::Frame;
using xdesk::wayland::FrameActivations;
using xdesk::wayland::MatchKind;
using xdesk::wayland::matchToplevel;
using xdesk::wayland::switchGraceNanos;
using xdesk::wayland::Toplevel;
using xdesk::wayland::WantedWindow;

// A toplevel that the compositor lists for another process must never be chosen when it cannot
// be told apart from the target's: activating it would paste into the wrong application. One
// title, two windows told apart by their app ids and two windows of one application with the
// same title are what the desktop tests show on sway.
TEST(ToplevelMatch, ActivatesOnlyAWindowThatNothingElseLooksLike) {
    const std::vector<Toplevel> listed = {{"Notes", "notes"},    {"Untitled", "gedit"},
                                          {"Untitled", "gedit"}, {"Untitled", "mousepad"},
                                          {"Report", "writer"},  {"Report", "org.example.Writer"}};
    const struct {
        const char* what;
        WantedWindow wanted;
        MatchKind kind;
        std::size_t index;
    } rows[] = {
        {"title with another app id", {{"Notes"}, {"sketch"}}, MatchKind::one, 0},
        {"no such title", {{"Sketch"}, {"notes"}}, MatchKind::none, 0},
        {"title differing in case", {{"notes"}, {"notes"}}, MatchKind::none, 0},
        {"no titles at all", {{}, {"notes"}}, MatchKind::none, 0},
        {"same title, unknown app id", {{"Untitled"}, {"kwrite"}}, MatchKind::ambiguous, 0},
        {"any of the app's names", {{"Report"}, {"soffice.bin", "writer"}}, MatchKind::one, 4},
        {"an ambiguous title, then a clear one",
         {{"Untitled", "Notes"}, {"gedit"}},
         MatchKind::one,
         0},
        {"the first clear title wins", {{"Notes", "Report"}, {"writer"}}, MatchKind::one, 0},
        {"ambiguous, then none", {{"Untitled", "Sketch"}, {}}, MatchKind::ambiguous, 0},
    };
    for (const auto& row : rows) {
        const auto match = matchToplevel(listed, row.wanted);
        EXPECT_EQ(match.kind, row.kind) << row.what;
        if (row.kind == MatchKind::one) {
            EXPECT_EQ(match.index, row.index) << row.what;
        }
    }
    EXPECT_EQ(matchToplevel({}, {{"Notes"}, {"notes"}}).kind, MatchKind::none);
}

constexpr int64_t ms = 1'000'000;

// One event of a script: activate (true) or deactivate of a frame, at a time, and the process to
// announce after it.
struct Step {
    bool activate;
    Frame frame;
    pid_t pid;
    int64_t at;
    std::optional<pid_t> announced;
};

void play(FrameActivations& activations, const std::vector<Step>& steps, const char* what) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        std::optional<pid_t> announced;
        if (step.activate) {
            announced = activations.activated(step.frame, step.pid, step.at);
        } else {
            activations.deactivated(step.frame, step.at);
        }
        EXPECT_EQ(announced, step.announced) << what << ", step " << i;
    }
}

TEST(FrameActivations, AnnouncesEachApplicationOnceAndAgainAfterAWindowOffTheBus) {
    const Frame notesMain{":1.5", "/org/a11y/atspi/accessible/1"};
    const Frame notesPalette{":1.5", "/org/a11y/atspi/accessible/7"};
    const Frame sketch{":1.9", "/org/a11y/atspi/accessible/1"}; // same path, other application
    const pid_t notes = 100;
    const pid_t sketchPid = 200;
    const std::optional<pid_t> none;
    const struct {
        const char* what;
        std::vector<Step> steps;
    } scripts[] = {
        {"old window's deactivation first",
         {{false, notesMain, notes, 0, none}, {true, sketch, sketchPid, 1 * ms, sketchPid}}},
        {"new window's activation first",
         {{true, sketch, sketchPid, 0, sketchPid},
          {false, notesMain, notes, 1 * ms, none},
          {true, notesMain, notes, 400 * ms, notes}}},
        {"windows of one application, deactivation first",
         {{false, notesMain, notes, 0, none},
          {true, notesPalette, notes, 1 * ms, none},
          {false, notesPalette, notes, 300 * ms, none},
          {true, notesMain, notes, 301 * ms, none}}},
        {"windows of one application, activation first",
         {{true, notesPalette, notes, 0, none}, {false, notesMain, notes, 1 * ms, none}}},
        {"back from a window off the bus, however fast",
         {{false, notesMain, notes, 0, none}, {true, notesMain, notes, 2 * ms, notes}}},
        {"another window of the application after a while off the bus",
         {{false, notesMain, notes, 0, none},
          {true, notesPalette, notes, switchGraceNanos - 1, none},
          {false, notesPalette, notes, 10 * switchGraceNanos, none},
          {true, notesMain, notes, 11 * switchGraceNanos, notes}}},
        {"off the bus, then another application",
         {{false, notesMain, notes, 0, none},
          {true, sketch, sketchPid, 500 * ms, sketchPid},
          {false, sketch, sketchPid, 600 * ms, none},
          {true, notesMain, notes, 601 * ms, notes}}},
        {"a repeated activation",
         {{true, notesMain, notes, 0, none}, {true, notesMain, notes, 1 * ms, none}}},
        {"a deactivation of a frame never seen",
         {{false, sketch, sketchPid, 0, none}, {true, notesPalette, notes, 1 * ms, none}}},
    };
    for (const auto& script : scripts) {
        FrameActivations activations;
        activations.start(notesMain, notes);
        play(activations, script.steps, script.what);
    }
}

TEST(FrameActivations, WithNothingInFrontAtTheStartTheFirstActivationIsAnnounced) {
    FrameActivations activations;
    const Frame notes{":1.5", "/org/a11y/atspi/accessible/1"};
    play(activations, {{true, notes, 100, 0, 100}, {true, notes, 100, 1 * ms, std::nullopt}},
         "nothing at the start");
}

// An application that ends with a window in front sends no deactivation; the desktop tests end
// one and come back to another through a window off the bus. The same process may come back on a
// new connection: after a while, it is an activation again.
TEST(FrameActivations, TheApplicationInFrontLeavingMakesTheNextOneAnActivation) {
    const Frame notes{":1.5", "/org/a11y/atspi/accessible/1"};
    FrameActivations activations;
    activations.start(notes, 100);
    activations.applicationLeft(":1.5", 0);
    // The same process back on the bus with a new connection, after a while: announced again.
    EXPECT_EQ(
        activations.activated({":1.8", "/org/a11y/atspi/accessible/1"}, 100, switchGraceNanos),
        100);
}

} // namespace
