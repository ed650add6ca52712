// One whole scribbet run with a 64 MiB input on the simulated platform, in this process, for
// measuring its peak memory from outside (bench/README.md):
//
//   scribbet_big_run file    a text file of 64 MiB of UTF-8 into a short field
//   scribbet_big_run field   a short text into a field whose value is 64 MiB of UTF-16
//   scribbet_big_run file|field setup   the same desktop and file, but no run: the baseline
//
// scribbet writes its result line and ends the process, as it would on its own.
#include "scribbet/entry.h"
#include "scribbet/tests/big_text.h"

#include <macsim/control.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr pid_t targetPid = 412;
constexpr std::size_t bigBytes = 64 * bigtext::mebibyte;

char textPath[] = "/tmp/scribbet-big-run-XXXXXX";

void removeTextFile() {
    std::remove(textPath);
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count <= 0) {
            std::perror("write");
            std::exit(2);
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool bigFile = argc >= 2 && std::strcmp(argv[1], "file") == 0;
    const bool bigField = argc >= 2 && std::strcmp(argv[1], "field") == 0;
    if (!bigFile && !bigField) {
        std::fputs("usage: scribbet_big_run file|field [setup]\n", stderr);
        return 2;
    }
    const int fd = ::mkstemp(textPath);
    if (fd < 0) {
        std::perror("mkstemp");
        return 2;
    }
    std::atexit(removeTextFile);
    if (bigFile) {
        bigtext::utf8(bigBytes, [fd](std::string_view chunk) { writeAll(fd, chunk); });
        bigtext::focusTextArea(targetPid, u"Hello world", CFRangeMake(6, 5));
    } else {
        writeAll(fd, "there");
        const std::size_t units = bigBytes / sizeof(char16_t);
        bigtext::focusTextArea(targetPid, bigtext::utf16(units),
                               CFRangeMake(static_cast<CFIndex>(units / 2), 1000));
    }
    ::close(fd);
    if (argc >= 3 && std::strcmp(argv[2], "setup") == 0) {
        return 0;
    }
    scribbet::run({"scribbet", std::to_string(targetPid), textPath});
}
