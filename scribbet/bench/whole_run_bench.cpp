// Time of a whole direct insertion on the simulated desktop, from the argument list to the
// encoded result line: reading and decoding the text file, the trust test, the focus, the
// context, the splice with its two writes, and the line. Only the process start and the write of
// the line are left out (bench/README.md measures those whole processes).
//
// dictation:    2 KiB of UTF-8 text into a 20 KiB field (20,480 UTF-16 units), caret in the middle
// bigTextFile:  a 64 MiB text file into "Hello world", replacing "world"
// bigField:     "there" into a field of 64 MiB (2^25 UTF-16 units), replacing 1,000 units
#include "scribbet/entry.h"
#include "scribbet/tests/big_text.h"

#include <macsim/control.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr pid_t targetPid = 412;

// A text file that lives as long as the benchmark.
class TextFile {
public:
    explicit TextFile(std::size_t bytes) {
        const int fd = ::mkstemp(path.data());
        bigtext::utf8(bytes, [fd](std::string_view chunk) {
            while (!chunk.empty()) {
                const ssize_t count = ::write(fd, chunk.data(), chunk.size());
                if (count <= 0) {
                    return;
                }
                chunk.remove_prefix(static_cast<std::size_t>(count));
            }
        });
        ::close(fd);
    }
    ~TextFile() { std::remove(path.c_str()); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    std::string path = "/tmp/scribbet-bench-XXXXXX";
};

void wholeRun(benchmark::State& state, std::size_t textBytes, const std::u16string& value,
              CFRange selection) {
    const TextFile file(textBytes);
    const scribbet::Arguments arguments{"scribbet", std::to_string(targetPid), file.path};
    for (auto _ : state) {
        state.PauseTiming();
        bigtext::focusTextArea(targetPid, value, selection);
        state.ResumeTiming();

        const std::string line = scribbet::encode(scribbet::respond(arguments));
        benchmark::DoNotOptimize(line);
        if (line.find("\"selectionUpdated\":true") == std::string::npos) {
            state.SkipWithError("not inserted");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(textBytes + value.size() * sizeof(char16_t)));
}

void dictation(benchmark::State& state) {
    const std::u16string value = bigtext::utf16(20 * 1024);
    wholeRun(state, 2 * 1024, value, CFRangeMake(static_cast<CFIndex>(value.size() / 2), 0));
}
BENCHMARK(dictation)->Unit(benchmark::kMicrosecond);

void bigTextFile(benchmark::State& state) {
    wholeRun(state, 64 * bigtext::mebibyte, u"Hello world", CFRangeMake(6, 5));
}
BENCHMARK(bigTextFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void bigField(benchmark::State& state) {
    const std::u16string value = bigtext::utf16(32 * bigtext::mebibyte);
    wholeRun(state, 5, value, CFRangeMake(static_cast<CFIndex>(value.size() / 2), 1000));
}
BENCHMARK(bigField)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
