// Whole runs of vantor in a child process, for what the scenarios cannot see: where the lines
// stand against the platform calls, and a reader that goes mid-run.
#include "vantor/vantor.h"

#include <macsim/activations.h>
#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using macsim::ActivationNotification;

const std::optional<std::string> none;

ActivationNotification activation(const char* bundle, const char* name, pid_t pid) {
    return {ActivationNotification::Kind::application, {bundle, name, none, pid}};
}

// What the child did to the simulated workspace, as text that comes back from it.
std::string workspaceReport() {
    std::string report = "observers " + std::to_string(macsim::activationObserverCount()) +
                         ", delivered " + std::to_string(macsim::deliveredActivations());
    for (const std::string& call : macsim::callStrings()) {
        report += "\n" + call;
    }
    return report;
}

macsim::ChildResult runVantor() {
    macsim::ChildOptions options;
    options.report = workspaceReport;
    return macsim::runChild([] { return vantor::run({"vantor"}); }, options);
}

class Run : public ::testing::Test {
protected:
    void SetUp() override { macsim::reset(); }
};

// A write straight to the process's standard output, past stdio, shows that "ready" was already
// flushed when the observer was registered.
TEST_F(Run, ReadyComesFirstAndBeforeTheObserverExists) {
    macsim::scriptActivations({activation("a.b", "Tool", 5)});
    macsim::onCall("addObserverForName", 1, [] {
        ssize_t written = ::write(STDOUT_FILENO, "<registering>\n", 14);
        static_cast<void>(written);
    });
    auto result = runVantor();
    EXPECT_EQ(result.out, "ready\n<registering>\nAPP:a.b|Tool|5\n");
    EXPECT_EQ(result.report,
              "observers 1, delivered 1\n"
              "addObserverForName workspaceCenter NSWorkspaceDidActivateApplicationNotification\n"
              "NSRunLoopRun main\n"
              "postNotification workspaceCenter NSWorkspaceDidActivateApplicationNotification");
    EXPECT_EQ(result.exitCode, 0);
}

// The first line must already be flushed when the reader goes; the next one ends the process.
TEST_F(Run, ReaderGoneMidRunEndsAtTheNextLine) {
    macsim::scriptActivations(
        {activation("a", "A", 1), activation("b", "B", 2), activation("c", "C", 3)});
    // Before the second notification, standard output becomes a pipe that nobody reads.
    macsim::onCall("postNotification", 2, [] {
        int ends[2];
        if (::pipe(ends) == 0) {
            ::close(ends[0]);
            ::dup2(ends[1], STDOUT_FILENO);
            ::close(ends[1]);
        }
    });
    auto result = runVantor();
    EXPECT_EQ(result.out, "ready\nAPP:a|A|1\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.report.substr(0, result.report.find('\n')), "observers 1, delivered 2");
}

// The built binary as a host starts it. Off Apple its script is empty: the run loop returns at
// once.
TEST(Binary, WritesReadyAndEnds) {
    auto result = macsim::runChild([] {
        std::string program = TOOL_BINARY;
        char* argv[] = {program.data(), nullptr};
        ::execv(TOOL_BINARY, argv);
        return 127;
    });
    EXPECT_EQ(result.out, "ready\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
}

} // namespace
