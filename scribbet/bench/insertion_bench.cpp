// Time of one direct insertion after the focus is known: context resolution plus the splice and
// its two writes, on the simulated desktop (whose reads and writes copy the value, as the real
// platform's messaging does). The value is N UTF-16 code units, the text 1024; the default run
// includes N = 2^20.
#include "scribbet/context.h"
#include "scribbet/splice.h"

#include <macsim/control.h>

#include <benchmark/benchmark.h>

namespace {

constexpr CFIndex textUnits = 1024;

std::u16string valueOfUnits(std::size_t units) {
    const std::u16string pattern = u"Lorem ipsum e\u0301 \U0001F600 dolor\n"; // 26 code units
    std::u16string value;
    value.reserve(units);
    while (value.size() < units) {
        value.append(pattern, 0, std::min(pattern.size(), units - value.size()));
    }
    return value;
}

void buildDesktop(const std::u16string& value) {
    macsim::reset();
    macsim::desktop().trusted = true;
    macsim::Element& area = macsim::element("area");
    area.pid = macsim::PidOutcome::of(412);
    area.attributes["AXRole"] = macsim::Read::of(macsim::text("AXTextArea"));
    area.attributes["AXValue"] = macsim::Read::of(value);
    // A 1 KiB selection in the middle, replaced by the 1 KiB text.
    area.attributes["AXSelectedTextRange"] =
        macsim::Read::of(macsim::range(static_cast<CFIndex>(value.size() / 2), textUnits));
    area.settable["AXValue"] = {kAXErrorSuccess, true};
    area.settable["AXSelectedTextRange"] = {kAXErrorSuccess, true};
}

void contextResolutionAndSplice(benchmark::State& state) {
    const std::u16string value = valueOfUnits(static_cast<std::size_t>(state.range(0)));
    const std::u16string text(static_cast<std::size_t>(textUnits), u'\u00fc');
    for (auto _ : state) {
        state.PauseTiming();
        buildDesktop(value);
        scribbet::ElementPtr focused = base::adopt(
            static_cast<AXUIElementRef>(macsim::createObject(macsim::ElementValue{"area"})));
        state.ResumeTiming();

        scribbet::InsertionResolution resolution = scribbet::resolveInsertionContext(focused.get());
        auto* context = std::get_if<scribbet::TextInsertionContext>(&resolution);
        if (context == nullptr) {
            state.SkipWithError("no insertion context");
            break;
        }
        scribbet::HelperResponse response =
            scribbet::runDirectInsertion(std::move(*context), text, 412, 412);
        benchmark::DoNotOptimize(response);
        if (!response.selectionUpdated.value_or(false)) {
            state.SkipWithError("insertion failed");
            break;
        }
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<int64_t>(sizeof(char16_t)));
}

BENCHMARK(contextResolutionAndSplice)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 22)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// The splice alone, without the platform.
void spliceOnly(benchmark::State& state) {
    const std::u16string value = valueOfUnits(static_cast<std::size_t>(state.range(0)));
    const std::u16string text(static_cast<std::size_t>(textUnits), u'\u00fc');
    const CFRange range = CFRangeMake(static_cast<CFIndex>(value.size() / 2), textUnits);
    for (auto _ : state) {
        std::optional<std::u16string> spliced = scribbet::spliceSelection(value, range, text);
        benchmark::DoNotOptimize(spliced);
    }
    state.SetComplexityN(state.range(0));
}

BENCHMARK(spliceOnly)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 22)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

} // namespace
