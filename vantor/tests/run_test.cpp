// Whole runs of vantor in a child process, for what the scenarios cannot see: where the lines
// stand against the platform calls, and a non-blocking pipe that fills up in the middle of a line.
// A reader that goes mid-run is the desktop tests' to show.
#include "vantor/vantor.h"

#include "base/tests/pipe.h"

#include <macsim/activations.h>
#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sys/wait.h>
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

// Whether the process has ended, or sleeps in the kernel (state S), within ten seconds.
bool endsOrSleeps(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        siginfo_t ended = {};
        if (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            ended.si_pid == pid) {
            return true;
        }
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string fields;
        std::getline(stat, fields);
        const std::size_t nameEnd = fields.rfind(") ");
        if (nameEnd != std::string::npos && fields.compare(nameEnd + 2, 1, "S") == 0) {
            return true;
        }
        ::sched_yield();
    }
    return false;
}

// A host may hand over a non-blocking pipe. Full but for one page, it takes the head of a long
// line and then refuses the rest for now (EAGAIN); the line must still arrive whole, after what
// the pipe held. The reader starts only once the writer has ended or waits, so that the refusal
// really happens first.
TEST(Emit, FinishesALineThatAFullNonBlockingPipeCutShort) {
    testpipe::Pipe ends;
    std::size_t held = ends.fill();
    char page[4096];
    ASSERT_EQ(::read(ends.read(), page, sizeof page), static_cast<ssize_t>(sizeof page));
    held -= sizeof page;
    const std::string line = "APP:com.example.long|" + std::string(20000, 'n') + "|7";

    std::fflush(nullptr);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        std::signal(SIGPIPE, SIG_IGN);
        ::dup2(ends.write(), STDOUT_FILENO);
        ::close(ends.read());
        ::close(ends.write());
        vantor::emit(line);
        ::_exit(0);
    }
    ::close(ends.write());
    ends.ends[1] = -1;
    const bool waited = endsOrSleeps(writer);
    std::string received;
    char chunk[65536];
    for (ssize_t n; (n = ::read(ends.read(), chunk, sizeof chunk)) > 0;) {
        received.append(chunk, static_cast<std::size_t>(n));
    }
    int status = 0;
    ::waitpid(writer, &status, 0);
    ASSERT_TRUE(waited) << "the writer neither ended nor waited";
    EXPECT_TRUE(received == std::string(held, 'x') + line + "\n")
        << received.size() << " bytes, expected " << held + line.size() + 1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
