// Cost of the per-event decision on the paths that write no line, which is what nearly every
// key-down and flags change of the session takes.
#include "gripwell/decision.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

namespace {

using gripwell::decide;
using gripwell::HoldState;
using gripwell::KeyEvent;

// Varied inputs so that the compiler cannot fold the call; none of them gives a line.
template <std::size_t N>
void runDecisions(benchmark::State& state, const std::array<KeyEvent, N>& events, HoldState hold) {
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hold);
        auto decision = decide(events[i], hold);
        benchmark::DoNotOptimize(decision);
        i = (i + 1) % N;
    }
    state.SetItemsProcessed(state.iterations());
}

// Other modifiers change while the watched option key is up.
void flagsChangedNoLine(benchmark::State& state) {
    const std::array<KeyEvent, 4> events{{
        {kCGEventFlagsChanged, kCGEventFlagMaskShift | 0x2 | 0x100, 56, 0},
        {kCGEventFlagsChanged, 0x100, 56, 0},
        {kCGEventFlagsChanged, kCGEventFlagMaskCommand | 0x8, 55, 0},
        {kCGEventFlagsChanged, kCGEventFlagMaskControl | 0x1, 59, 0},
    }};
    runDecisions(state, events, HoldState{kCGEventFlagMaskAlternate, false});
}
BENCHMARK(flagsChangedNoLine);

// Typing while the watched key is up.
void keyDownNoLineReleased(benchmark::State& state) {
    const std::array<KeyEvent, 4> events{{
        {kCGEventKeyDown, 0x100, 0, 0},
        {kCGEventKeyDown, 0x100, 49, 0},
        {kCGEventKeyDown, kCGEventFlagMaskShift | 0x102, 11, 0},
        {kCGEventKeyDown, 0x100, 49, 1},
    }};
    runDecisions(state, events, HoldState{kCGEventFlagMaskAlternate, false});
}
BENCHMARK(keyDownNoLineReleased);

// Other keys and space auto-repeats while the watched key is held.
void keyDownNoLineHeld(benchmark::State& state) {
    const std::array<KeyEvent, 4> events{{
        {kCGEventKeyDown, kCGEventFlagMaskAlternate | 0x120, 0, 0},
        {kCGEventKeyDown, kCGEventFlagMaskAlternate | 0x120, 49, 1},
        {kCGEventKeyDown, kCGEventFlagMaskAlternate | 0x120, 48, 0},
        {kCGEventKeyDown, kCGEventFlagMaskAlternate | 0x120, 49, 1},
    }};
    runDecisions(state, events, HoldState{kCGEventFlagMaskAlternate, true});
}
BENCHMARK(keyDownNoLineHeld);

} // namespace
