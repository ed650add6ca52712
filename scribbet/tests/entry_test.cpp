// The command line, the text file, and the outcomes decided before any element is looked at.
#include "scribbet/entry.h"

#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace scribbet {
namespace {

using std::nullopt;

class TextFile : public ::testing::Test {
protected:
    std::string write(const std::string& bytes) {
        char name[] = "/tmp/scribbet-text-XXXXXX";
        const int fd = ::mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        paths_.emplace_back(name);
        return name;
    }
    void TearDown() override {
        for (const auto& path : paths_) {
            std::remove(path.c_str());
        }
    }

private:
    std::vector<std::string> paths_;
};

// The decoding of what was read, a byte-order mark dropped, is the text-decoding fuzz target's.
TEST_F(TextFile, EmptyFileIsEmptyTextAndMissingOrUnreadableGivesNothing) {
    EXPECT_EQ(readInputText({"scribbet", "1", write("")}), u"");
    EXPECT_EQ(readInputText({"scribbet", "1", "/nonexistent/file"}), nullopt);
    EXPECT_EQ(readInputText({"scribbet", "1", ""}), nullopt);
    EXPECT_EQ(readInputText({"scribbet", "1"}), nullopt);
}

class EarlyOutcome : public TextFile {
protected:
    void SetUp() override { macsim::reset(); }
};

// The early outcomes touch nothing on the desktop but the permission test.
TEST_F(EarlyOutcome, NothingButThePermissionTestBeforeTheFocusIsSought) {
    const std::string hello = write("hello");
    struct Case {
        Arguments arguments;
        bool trusted;
        const char* line;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {{"scribbet", "42"},
         true,
         R"({"status":"invalid_target_pid","error":"missing_or_invalid_pid"})",
         {}},
        // The switch is exact: in capitals it names a file, and there is no such file.
        {{"scribbet", "42", "--FAST-PASTE"},
         true,
         R"({"status":"unexpected_error","targetPid":42,"error":"text_read_failed"})",
         {}},
        {{"scribbet", "42", hello, "ignored"},
         false,
         R"({"status":"accessibility_not_trusted","targetPid":42,"error":"accessibility_not_trusted"})",
         {"AXIsProcessTrusted"}},
    };
    for (const auto& c : cases) {
        macsim::reset();
        macsim::desktop().trusted = c.trusted;
        EXPECT_EQ(encode(respond(c.arguments)), c.line);
        EXPECT_EQ(macsim::callStrings(), c.calls) << c.line;
        EXPECT_EQ(macsim::liveObjects(), 0u);
    }
}

TEST_F(EarlyOutcome, UnknownFocusedPidPassesTheTargetCheckAndIsLeftOut) {
    macsim::desktop().trusted = true;
    macsim::desktop().systemWide.attributes["AXFocusedUIElement"] =
        macsim::Read::of(macsim::ElementValue{"area"});
    macsim::Element& area = macsim::element("area");
    area.pid = macsim::PidOutcome::error(kAXErrorCannotComplete);
    area.attributes["AXRole"] = macsim::Read::of(macsim::text("AXTextArea"));
    area.attributes["AXValue"] = macsim::Read::of(macsim::text(""));
    area.attributes["AXSelectedTextRange"] = macsim::Read::of(macsim::range(0, 0));
    area.settable["AXValue"] = {kAXErrorSuccess, true};
    area.settable["AXSelectedTextRange"] = {kAXErrorSuccess, true};

    EXPECT_EQ(
        encode(respond({"scribbet", "42", write("x")})),
        R"({"status":"inserted","role":"AXTextArea","targetPid":42,"selectionUpdated":true})");
    EXPECT_EQ(macsim::liveObjects(), 0u);
}

TEST(Process, ReaderGoneStillExitsZeroWithoutASignal) {
    macsim::reset();
    macsim::ChildOptions options;
    options.readerGone = true;
    const auto result = macsim::runChild([]() -> int { run({"scribbet", "x", "y"}); }, options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
}

// Nothing that FILE names may hold the run up or fill its memory: a FIFO that nobody writes to
// (whose plain open would wait for ever), a device that never ends, a socket, and a file whose
// contents are longer than the size it reported when opened, as a file growing while it is read
// is. The child is killed after a few seconds, which no refusal comes near.
TEST(Process, AnythingButAWholeRegularFileIsRefusedAtOnce) {
    char directory[] = "/tmp/scribbet-special-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string fifo = std::string(directory) + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = std::string(directory) + "/socket";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);

    for (const std::string& path : {fifo, std::string("/dev/zero"), socketPath,
                                    std::string("/proc/self/status"), std::string(directory)}) {
        macsim::reset();
        macsim::desktop().trusted = true;
        macsim::ChildOptions options;
        options.timeoutSeconds = 3;
        const auto result = macsim::runChild(
            [&path]() -> int {
                run({"scribbet", "42", path});
            },
            options);
        EXPECT_EQ(result.out,
                  R"({"status":"unexpected_error","targetPid":42,"error":"text_read_failed"})"
                  "\n")
            << path;
        EXPECT_EQ(result.signal, 0) << path;
        EXPECT_EQ(result.exitCode, 0) << path;
        EXPECT_EQ(result.err, "") << path;
    }
    ::close(listening);
    std::remove(socketPath.c_str());
    std::remove(fifo.c_str());
    ::rmdir(directory);
}

} // namespace
} // namespace scribbet
