// Whole runs of vantor in a child process, as the host starts it: scripted activations in,
// standard output, standard error and exit status out.
#include "vantor/vantor.h"

#include <macsim/activations.h>
#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using macsim::ActivationNotification;
using macsim::ScriptedApplication;
using Kind = ActivationNotification::Kind;

const std::optional<std::string> none;

ActivationNotification activation(ScriptedApplication application) {
    return {Kind::application, std::move(application)};
}

ActivationNotification without(Kind kind) {
    return {kind, {"com.example.hidden", "Hidden", none, 99}};
}

// What the child did to the simulated workspace, as text that comes back from it.
std::string workspaceReport() {
    std::string report = "observers " + std::to_string(macsim::activationObserverCount()) +
                         ", delivered " + std::to_string(macsim::deliveredActivations()) +
                         ", live " + std::to_string(macsim::liveObjects());
    for (const std::string& call : macsim::callStrings()) {
        report += "\n" + call;
    }
    return report;
}

macsim::ChildResult runVantor(bool readerGone = false) {
    macsim::ChildOptions options;
    options.readerGone = readerGone;
    options.report = workspaceReport;
    return macsim::runChild([] { return vantor::run({"vantor"}); }, options);
}

// Writes straight to the process's standard output, past stdio: it shows where the tool's own
// lines stood, flushed, at the moment of the call it runs in.
void markStdout(const char* text) {
    ssize_t ignored = ::write(STDOUT_FILENO, text, std::char_traits<char>::length(text));
    (void)ignored;
}

class Run : public ::testing::Test {
protected:
    void SetUp() override { macsim::reset(); }
};

TEST_F(Run, ScriptedSessionGivesExactLines) {
    const ScriptedApplication safari{"com.apple.Safari", "Safari", none, 412};
    const ScriptedApplication unnamed{"com.example.unnamed", "", none, 500};
    macsim::scriptActivations({
        activation(safari),
        without(Kind::noUserInfo),
        without(Kind::noApplicationKey),
        without(Kind::notAnApplication),
        activation({none, "Terminal", none, 77}),
        activation(safari),
        activation(safari),
        activation(unnamed),
        activation(safari),
        activation({"org.example.tool", none, "file:///usr/local/bin/tool", -1}),
        activation({"com.evil", "Evil\nAPP:com.bank|Bank|1", none, 66}),
    });
    auto result = runVantor();
    EXPECT_EQ(result.out, "ready\n"
                          "APP:com.apple.Safari|Safari|412\n"
                          "APP:|Terminal|77\n"
                          "APP:com.apple.Safari|Safari|412\n"
                          "APP:com.apple.Safari|Safari|412\n"
                          "APP:com.apple.Safari|Safari|412\n"
                          "APP:org.example.tool|tool|-1\n"
                          "APP:com.evil|Evil APP:com.bank|Bank|1|66\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.report.substr(0, result.report.find('\n')),
              "observers 1, delivered 11, live 0");
}

TEST_F(Run, ReadyComesFirstAndBeforeTheObserverExists) {
    macsim::scriptActivations({activation({"a.b", "Tool", none, 5})});
    macsim::onCall("addObserverForName", 1, [] { markStdout("<registering>\n"); });
    auto result = runVantor();
    EXPECT_EQ(result.out, "ready\n<registering>\nAPP:a.b|Tool|5\n");
    EXPECT_EQ(result.report,
              "observers 1, delivered 1, live 0\n"
              "addObserverForName workspaceCenter NSWorkspaceDidActivateApplicationNotification\n"
              "NSRunLoopRun main\n"
              "postNotification workspaceCenter NSWorkspaceDidActivateApplicationNotification");
    EXPECT_EQ(result.exitCode, 0);
}

TEST_F(Run, EachLineIsFlushedBeforeTheNextNotification) {
    macsim::scriptActivations({activation({"a", "A", none, 1}), activation({"b", "B", none, 2}),
                               activation({"c", "C", none, 3})});
    macsim::onCall("postNotification", 1, [] { markStdout("<1>\n"); });
    macsim::onCall("postNotification", 2, [] { markStdout("<2>\n"); });
    macsim::onCall("postNotification", 3, [] { markStdout("<3>\n"); });
    auto result = runVantor();
    EXPECT_EQ(result.out, "ready\n<1>\nAPP:a|A|1\n<2>\nAPP:b|B|2\n<3>\nAPP:c|C|3\n");
}

TEST_F(Run, ExecutableNamesFromFileUrls) {
    const char* urls[] = {
        "file:///Applications/Tool.app/Contents/MacOS/tool",
        "file:///Applications/My%20Tool.app/Contents/MacOS/My%20Tool",
        "file:///usr/local/bin/caf%C3%A9",
        "file:///usr/local/bin/bundle/",
        "file://localhost/usr/bin/host",
        "file:///opt/a%2Fb",
        "file:///opt/evil%0AAPP%3Acom.bank%7CBank%7C1",
        "file:///opt/bad%FF", // not UTF-8 once decoded: no name, no line
        "file:///opt/",
    };
    std::vector<ActivationNotification> script;
    for (const char* url : urls) {
        script.push_back(activation({"x", none, url, 7}));
    }
    macsim::scriptActivations(script);
    auto result = runVantor();
    EXPECT_EQ(result.out, "ready\n"
                          "APP:x|tool|7\n"
                          "APP:x|My Tool|7\n"
                          "APP:x|café|7\n"
                          "APP:x|bundle|7\n"
                          "APP:x|host|7\n"
                          "APP:x|a%2Fb|7\n"
                          "APP:x|evil APP:com.bank|Bank|1|7\n"
                          "APP:x|opt|7\n");
    EXPECT_EQ(result.report.substr(0, result.report.find('\n')),
              "observers 1, delivered 9, live 0");
}

TEST_F(Run, ReaderGoneAtStartEndsWithStatusZero) {
    macsim::scriptActivations({activation({"a", "A", none, 1})});
    auto result = runVantor(/*readerGone=*/true);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.report, "observers 0, delivered 0, live 0"); // ended at "ready"
}

TEST_F(Run, ReaderGoneMidRunEndsAtTheNextLine) {
    macsim::scriptActivations({activation({"a", "A", none, 1}), activation({"b", "B", none, 2}),
                               activation({"c", "C", none, 3})});
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
    EXPECT_EQ(result.report.substr(0, result.report.find('\n')),
              "observers 1, delivered 2, live 0");
}

// The built binary as a process. Off Apple its script is empty: the run loop returns at once.
macsim::ChildResult runBinary(std::vector<std::string> args, bool readerGone = false) {
    macsim::ChildOptions options;
    options.readerGone = readerGone;
    return macsim::runChild(
        [&args] {
            std::vector<char*> argv{const_cast<char*>(TOOL_BINARY)};
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            ::execv(TOOL_BINARY, argv.data());
            return 127;
        },
        options);
}

TEST(Binary, WritesReadyAndEnds) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--help", "x"}}) {
        auto result = runBinary(args);
        EXPECT_EQ(result.out, "ready\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(Binary, ReaderGoneEndsWithStatusZero) {
    auto result = runBinary({}, /*readerGone=*/true);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
}

} // namespace
