// Cost per tapped event of the callback's own work, the decision and then the line, on the three
// paths an event can take: no line; a line written at once to a pipe that its reader keeps
// empty; a line kept because the reader has stopped and the pipe is full. The last one is
// followed by the cost, per line, of writing the kept lines out once the reader reads again.
// Reading the event's fields from the platform is not included.
#include "gripwell/decision.h"
#include "gripwell/output.h"

#include <benchmark/benchmark.h>

#include <array>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using gripwell::decide;
using gripwell::HoldState;
using gripwell::KeyEvent;
using gripwell::Output;

// A pipe as a host hands it over, after prepareOutput: the writing end non-blocking.
struct Pipe {
    std::array<int, 2> ends{-1, -1};
    Pipe() {
        if (::pipe(ends.data()) != 0) {
            std::abort();
        }
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    }
    ~Pipe() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    Output output() const {
        Output out;
        out.fd = ends[1];
        return out;
    }
    void fill() const {
        static const std::string chunk(65536, 'x');
        while (::write(ends[1], chunk.data(), chunk.size()) > 0) {
        }
    }
    void drain() const {
        char chunk[65536];
        while (::read(ends[0], chunk, sizeof chunk) > 0) {
        }
    }
};

// What the callback does with one event once its fields are read.
template <class OnKept>
void handle(const KeyEvent& event, HoldState& hold, Output& out, OnKept onKept) {
    const gripwell::Decision decision = decide(event, hold);
    hold = decision.state;
    if (decision.line && gripwell::writeOrKeep(out, gripwell::lineBytes(*decision.line)) ==
                             gripwell::LineOutcome::kept) {
        onKept();
    }
}

// The option key goes down and up: every event gives a line.
const std::array<KeyEvent, 2> downAndUp{{
    {kCGEventFlagsChanged, kCGEventFlagMaskAlternate | 0x120, 58, 0},
    {kCGEventFlagsChanged, 0x100, 58, 0},
}};

// Other modifiers and typing while the option key is up: no line.
void eventWithoutLine(benchmark::State& state) {
    const std::array<KeyEvent, 4> events{{
        {kCGEventFlagsChanged, kCGEventFlagMaskShift | 0x102, 56, 0},
        {kCGEventKeyDown, kCGEventFlagMaskShift | 0x102, 0, 0},
        {kCGEventFlagsChanged, 0x100, 56, 0},
        {kCGEventKeyDown, 0x100, 49, 0},
    }};
    Pipe pipe;
    Output out = pipe.output();
    HoldState hold{kCGEventFlagMaskAlternate, false};
    std::size_t i = 0;
    for (auto _ : state) {
        handle(events[i], hold, out, [] {});
        i = (i + 1) % events.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(eventWithoutLine);

// The reader keeps the pipe empty: each line is one write(2). The reader's reads are left out.
void eventWithLineWritten(benchmark::State& state) {
    Pipe pipe;
    Output out = pipe.output();
    HoldState hold{kCGEventFlagMaskAlternate, false};
    std::size_t i = 0;
    for (auto _ : state) {
        handle(downAndUp[i], hold, out, [&] {
            state.PauseTiming();
            pipe.drain();
            static_cast<void>(gripwell::writeKept(out));
            state.ResumeTiming();
        });
        i ^= 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(eventWithLineWritten);

// The reader has stopped and the pipe is full: each line joins the backlog. The backlog starts
// empty, without memory, whenever it nears the bound, so that its growth is counted too.
void eventWithLineKept(benchmark::State& state) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe pipe;
    pipe.fill();
    Output out = pipe.output();
    HoldState hold{kCGEventFlagMaskAlternate, false};
    std::size_t i = 0;
    for (auto _ : state) {
        handle(downAndUp[i], hold, out, [&] {
            if (gripwell::keptBytes(out) + 8 > gripwell::maxBacklogBytes) {
                state.PauseTiming();
                std::string().swap(out.backlog);
                out.sent = 0;
                state.ResumeTiming();
            }
        });
        i ^= 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(eventWithLineKept);

// Once the reader reads again: writing out a full backlog of "down" and "up" lines, per line,
// through as many rounds as the pipe needs. The reader's reads are left out.
void keptLineWrittenLater(benchmark::State& state) {
    Pipe pipe;
    Output out = pipe.output();
    const std::size_t lines = gripwell::maxBacklogBytes / 4;
    for (auto _ : state) {
        state.PauseTiming();
        pipe.fill();
        for (std::size_t k = 0; k < lines; ++k) {
            static_cast<void>(gripwell::writeOrKeep(out, k % 2 == 0 ? "down\n" : "up\n"));
        }
        pipe.drain();
        state.ResumeTiming();
        while (gripwell::writeKept(out) == gripwell::FlushOutcome::waiting) {
            state.PauseTiming();
            pipe.drain();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines));
}
BENCHMARK(keptLineWrittenLater)->Unit(benchmark::kMillisecond);

} // namespace
