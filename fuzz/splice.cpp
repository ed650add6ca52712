// The splice and its write-back against a model in UTF-16 code units: random values, texts and
// ranges, with locations and lengths drawn around the value's length and from the 64-bit
// extremes. The model decides inside or outside with 128-bit arithmetic, builds the new value
// unit by unit, and knows the secure-field rule and the two writes; the run goes through the
// simulated platform, which also counts every object left alive.
#include "check.h"

#include "scribbet/splice.h"

#include <macsim/control.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace {

constexpr pid_t targetPid = 412;

std::u16string units(FuzzedDataProvider& input, std::size_t longest) {
    static constexpr char16_t alphabet[] = {u'a', u'b', 0xD83D, 0xDE00, 0xE9, 0x0301, 0};
    std::u16string text(input.ConsumeIntegralInRange<std::size_t>(0, longest), u'\0');
    for (char16_t& unit : text) {
        unit = input.ConsumeBool()
                   ? alphabet[input.ConsumeIntegralInRange<std::size_t>(0, std::size(alphabet) - 1)]
                   : input.ConsumeIntegral<char16_t>();
    }
    return text;
}

// A location or length: near 0 or the value's length, at the 64-bit extremes, or anything.
CFIndex position(FuzzedDataProvider& input, CFIndex n) {
    constexpr CFIndex lowest = std::numeric_limits<CFIndex>::min();
    constexpr CFIndex highest = std::numeric_limits<CFIndex>::max();
    const CFIndex offset = input.ConsumeIntegralInRange<CFIndex>(-2, 2);
    switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return offset;
    case 1:
        return n + offset;
    case 2:
        return lowest + (offset + 2);
    case 3:
        return highest - (offset + 2);
    case 4: // a length that just reaches, or just passes, the end of the 64-bit range
        return n >= offset ? highest - (n - offset) : highest;
    default:
        return input.ConsumeIntegral<CFIndex>();
    }
}

std::optional<std::u16string> role(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return std::nullopt;
    case 1:
        return u"AXTextArea";
    default:
        return u"AXSecureTextField";
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::u16string value = units(input, 40);
    const std::u16string text = units(input, 12);
    const auto n = static_cast<CFIndex>(value.size());
    const CFRange range{position(input, n), position(input, n)};
    const std::optional<std::u16string> elementRole = role(input);
    const std::optional<std::u16string> elementSubrole = role(input);
    // What the application does with the value: takes it, or (one in eight each) answers too
    // late and keeps its value, answers too late and takes it, answers yes and keeps its value.
    enum class ValueWrite { taken, lateKept, lateTaken, ignored };
    const int valueDraw = input.ConsumeIntegralInRange(0, 7);
    const ValueWrite valueWrite =
        valueDraw > 2 ? ValueWrite::taken : static_cast<ValueWrite>(valueDraw + 1);
    const bool caretRefused = input.ConsumeIntegralInRange(0, 7) == 0;
    const bool caretNotMade = input.ConsumeIntegralInRange(0, 7) == 0;

    // The model.
    const __int128 end = static_cast<__int128>(range.location) + range.length;
    const bool inside = range.location >= 0 && range.length >= 0 && range.location <= n && end <= n;
    std::optional<std::u16string> expected;
    if (inside) {
        expected.emplace();
        for (CFIndex i = 0; i < range.location; ++i) {
            expected->push_back(value[static_cast<std::size_t>(i)]);
        }
        for (char16_t unit : text) {
            expected->push_back(unit);
        }
        for (auto i = static_cast<CFIndex>(end); i < n; ++i) {
            expected->push_back(value[static_cast<std::size_t>(i)]);
        }
    }
    const bool secure =
        elementRole == u"AXSecureTextField" || elementSubrole == u"AXSecureTextField";
    const bool wholeValue = n == 0 || (range.location == 0 && range.length == n);

    fuzzcheck::require(scribbet::spliceSelection(value, range, text) == expected,
                       "spliceSelection differs from the model");

    macsim::reset();
    macsim::Element& field = macsim::element("field");
    field.attributes["AXValue"] = macsim::Read::of(value);
    switch (valueWrite) {
    case ValueWrite::taken:
        break;
    case ValueWrite::lateKept:
        field.writeErrors["AXValue"] = kAXErrorCannotComplete;
        break;
    case ValueWrite::lateTaken:
        field.writeOutcomes["AXValue"] =
            macsim::WriteOutcome::storingWritten(kAXErrorCannotComplete);
        break;
    case ValueWrite::ignored:
        field.writeOutcomes["AXValue"] = macsim::WriteOutcome::keepingOld();
        break;
    }
    if (caretRefused) {
        field.writeErrors["AXSelectedTextRange"] = kAXErrorIllegalArgument;
    }
    macsim::failures().axValueCreate = caretNotMade;
    scribbet::TextInsertionContext context{
        base::adopt(
            static_cast<AXUIElementRef>(macsim::createObject(macsim::ElementValue{"field"}))),
        elementRole, elementSubrole, value, range};
    const scribbet::HelperResponse response =
        scribbet::runDirectInsertion(std::move(context), text, targetPid, targetPid);

    fuzzcheck::require(macsim::liveObjects() == 0, "an object left alive");
    fuzzcheck::require(response.targetPid == targetPid && response.focusedPid == targetPid,
                       "pids not passed through");
    const std::vector<macsim::Write>& writes = macsim::writes();
    if (!inside) {
        fuzzcheck::require(response.status == "selection_not_range" &&
                               response.error == "selection_out_of_bounds" && writes.empty(),
                           "a range outside the value was not refused, or something was written");
        return 0;
    }
    if (secure && !wholeValue) {
        fuzzcheck::require(response.status == "value_unavailable" && writes.empty(),
                           "a secure field's mask was spliced");
        return 0;
    }
    fuzzcheck::require(!writes.empty() && writes[0].attribute == "AXValue" &&
                           writes[0].value == macsim::Value(*expected),
                       "the value written differs from the model");
    // A secure field's value is never read back; any other is, and tells whether the write
    // landed: it reads as ours when the application took it or ours equals the old value.
    const bool readsAsOurs = valueWrite == ValueWrite::taken ||
                             valueWrite == ValueWrite::lateTaken || *expected == value;
    const char* refusal = nullptr;
    if (valueWrite == ValueWrite::lateKept || valueWrite == ValueWrite::lateTaken) {
        refusal = secure || !readsAsOurs ? "cannot_complete" : nullptr;
    } else if (valueWrite == ValueWrite::ignored) {
        refusal = !secure && !readsAsOurs ? "failure" : nullptr;
    }
    if (refusal != nullptr) {
        fuzzcheck::require(response.status == "set_value_failed" && writes.size() == 1 &&
                               !response.selectionUpdated && response.error == refusal,
                           "a value that did not land was not reported, or the run went on");
        return 0;
    }
    fuzzcheck::require(response.status == "inserted", "not inserted");
    if (caretNotMade) {
        fuzzcheck::require(writes.size() == 1 && response.selectionUpdated == false &&
                               response.error == "selection_value_create_failed",
                           "the caret's value could not be made, yet");
        return 0;
    }
    const CFIndex caret = range.location + static_cast<CFIndex>(text.size());
    fuzzcheck::require(writes.size() == 2 && writes[1].attribute == "AXSelectedTextRange" &&
                           writes[1].value == macsim::range(caret, 0),
                       "the caret is not just after the text");
    fuzzcheck::require(response.selectionUpdated == !caretRefused &&
                           response.error.has_value() == caretRefused,
                       "the caret write's outcome is reported wrongly");
    return 0;
}
