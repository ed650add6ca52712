// The built executable as a host starts it. Its simulated desktop is the one every process
// starts with: not trusted for Accessibility, and no session events.
#include <macsim/child.h>

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

macsim::ChildResult runBinary(std::vector<std::string> args) {
    return macsim::runChild([&args] {
        std::vector<char*> argv;
        std::string program = TOOL_BINARY;
        argv.push_back(program.data());
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(TOOL_BINARY, argv.data());
        return 127;
    });
}

TEST(Binary, UntrustedStartWritesOnlyTheErrorLine) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"COMMAND"}, {"fn", "extra", "words"}, {""}}) {
        macsim::ChildResult result = runBinary(args);
        EXPECT_EQ(result.out, "error:accessibility_not_granted\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 1);
    }
}

} // namespace
