#include "vantor/vantor.h"

#include "unicode/utf.h"

#include <benchmark/benchmark.h>

namespace {

void typicalLine(benchmark::State& state) {
    const vantor::RunningApplication application{"com.apple.Safari", "Safari", "Safari", 412};
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantor::activationLine(application));
    }
}
BENCHMARK(typicalLine);

void longNameWithLineBreaks(benchmark::State& state) {
    std::string name;
    for (int i = 0; i < 64; ++i) {
        name += "Name\r\n";
    }
    const vantor::RunningApplication application{"org.example.long", name, std::nullopt, 7};
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantor::activationLine(application));
    }
}
BENCHMARK(longNameWithLineBreaks);

void nameFromUtf16(benchmark::State& state) {
    const std::u16string units = u"Café ☕ \U0001D11E Application Name";
    for (auto _ : state) {
        benchmark::DoNotOptimize(unicode::utf8FromUtf16(units));
    }
}
BENCHMARK(nameFromUtf16);

} // namespace
