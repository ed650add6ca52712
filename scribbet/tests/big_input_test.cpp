// Whole runs with big inputs, in a child process as a host would start scribbet: a text file of
// 64 MiB into a short field, and a short text into a field whose value is 64 MiB (in UTF-16). The
// child checks the written value and the caret against texts built here without the conversions
// under test, and reports what it found after its result line.
#include "big_text.h"

#include "base/line_out.h"
#include "scribbet/entry.h"

#include <macsim/child.h>
#include <macsim/control.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool addressSanitizer = true;
#else
constexpr bool addressSanitizer = false;
#endif
#else
constexpr bool addressSanitizer = false;
#endif

constexpr pid_t targetPid = 412;
constexpr std::size_t bigBytes = 64 * bigtext::mebibyte;
const char* const insertedLine = R"({"status":"inserted","role":"AXTextArea","targetPid":412,)"
                                 R"("focusedPid":412,"selectionUpdated":true})"
                                 "\n";

// A temporary text file, removed with this.
struct TextFile {
    std::string path = "/tmp/scribbet-big-XXXXXX";
    explicit TextFile(const std::function<void(int fd)>& write) {
        const int fd = ::mkstemp(path.data());
        EXPECT_GE(fd, 0);
        write(fd);
        ::close(fd);
    }
    ~TextFile() { std::remove(path.c_str()); }
};

void writeAll(int fd, std::string_view bytes) {
    ASSERT_EQ(base::writeAll(fd, bytes).outcome, base::WriteOutcome::written);
}

// Runs scribbet on `path` in a child, which reports how its two writes compare with `value` and
// `caret`, and how many objects it left alive.
macsim::ChildResult runWithBigInput(const std::string& path, const std::u16string& value,
                                    CFIndex caret) {
    macsim::ChildOptions options;
    options.timeoutSeconds = 120; // 64 MiB under the sanitizers
    options.report = [&value, caret] {
        const std::vector<macsim::Write>& writes = macsim::writes();
        std::string report = "writes " + std::to_string(writes.size()) + "\n";
        if (writes.size() == 2) {
            const auto* written = std::get_if<std::u16string>(&writes[0].value);
            report += writes[0].attribute +
                      (written && *written == value ? " as expected\n" : " differs\n");
            report +=
                writes[1].attribute +
                (writes[1].value == macsim::range(caret, 0) ? " as expected\n" : " differs\n");
        }
        return report + "live " + std::to_string(macsim::liveObjects()) + "\n";
    };
    const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid), path};
    return macsim::runChild([&arguments]() -> int { scribbet::run(arguments); }, options);
}

const char* const everythingAsExpected =
    "writes 2\nAXValue as expected\nAXSelectedTextRange as expected\nlive 0\n";

TEST(BigInput, TextFileOf64MiBReplacesTheSelection) {
    // A byte-order mark, then 64 MiB less 3 bytes of sentences: the mark is not inserted.
    const TextFile file([](int fd) {
        writeAll(fd, "\xEF\xBB\xBF");
        bigtext::utf8(bigBytes - 3, [fd](std::string_view chunk) { writeAll(fd, chunk); });
    });
    const std::u16string text = bigtext::utf16OfUtf8(bigBytes - 3);
    bigtext::focusTextArea(targetPid, u"Hello world", CFRangeMake(6, 5));
    const std::u16string expected = u"Hello " + text;

    const macsim::ChildResult run =
        runWithBigInput(file.path, expected, 6 + static_cast<CFIndex>(text.size()));

    EXPECT_EQ(run.out, insertedLine);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.report, everythingAsExpected);
}

TEST(BigInput, FieldOf64MiBTakesTheTextInItsMiddle) {
    const TextFile file([](int fd) { writeAll(fd, "there"); });
    const std::size_t units = bigBytes / sizeof(char16_t);
    std::u16string value = bigtext::utf16(units);
    const CFRange selection = CFRangeMake(static_cast<CFIndex>(units / 2), 1000);
    std::u16string expected = value;
    expected.replace(units / 2, 1000, u"there");
    bigtext::focusTextArea(targetPid, std::move(value), selection);

    const macsim::ChildResult run = runWithBigInput(file.path, expected, selection.location + 5);

    EXPECT_EQ(run.out, insertedLine);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.report, everythingAsExpected);
}

// A sparse file of 15 TiB reads as 15 TiB of zeros, far more than memory can hold. It used to end
// the process with an uncaught std::bad_alloc, without a line.
TEST(BigInput, TextFileTooBigToHoldCannotBeRead) {
    if (addressSanitizer) {
        GTEST_SKIP() << "AddressSanitizer reports a failed allocation instead of throwing";
    }
    const TextFile file([](int fd) { EXPECT_EQ(::ftruncate(fd, off_t{15} << 40), 0); });
    bigtext::focusTextArea(targetPid, u"Hello world", CFRangeMake(6, 5));

    const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid), file.path};
    const macsim::ChildResult run =
        macsim::runChild([&arguments]() -> int { scribbet::run(arguments); });

    EXPECT_EQ(run.out, R"({"status":"unexpected_error","targetPid":412,"error":"text_read_failed"})"
                       "\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
}

// The address space the process uses now, in bytes.
std::size_t addressSpaceBytes() {
    std::ifstream status("/proc/self/statm");
    std::size_t pages = 0;
    status >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// A field of 64 MiB whose value cannot even be copied once more: the process is left 32 MiB of
// address space beyond what it holds. It used to end with an uncaught std::bad_alloc, without a
// line; now the host gets the fixed line, and nothing is written.
TEST(BigInput, FieldTooBigToCopyEndsInTheFixedLine) {
    if (addressSanitizer) {
        GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
    }
    const TextFile file([](int fd) { writeAll(fd, "there"); });
    bigtext::focusTextArea(targetPid, bigtext::utf16(bigBytes / sizeof(char16_t)),
                           CFRangeMake(0, 0));

    macsim::ChildOptions options;
    options.report = [] { return "writes " + std::to_string(macsim::writes().size()) + "\n"; };
    const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid), file.path};
    const macsim::ChildResult run = macsim::runChild(
        [&arguments]() -> int {
            const rlim_t limit = addressSpaceBytes() + 32 * bigtext::mebibyte;
            const rlimit space = {limit, limit};
            ::setrlimit(RLIMIT_AS, &space);
            scribbet::run(arguments);
        },
        options);

    EXPECT_EQ(run.out, "{\"status\":\"unexpected_error\"}\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.report, "writes 0\n");
}

} // namespace
