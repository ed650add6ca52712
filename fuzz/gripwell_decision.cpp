// gripwell's decision over random event streams, checked against the rules of its line protocol
// rather than against its own logic: "down" and "up" alternate, beginning with "down", and each
// comes only from a flags change that shows the watched flags held, or not held; "combo_space"
// comes only between them, exactly once for each fresh (not auto-repeated) key-down of the space
// bar; only a tap-disabled notice asks for the tap back; and the watched mask never changes.
// The decision has no way to swallow or alter an event: the callback passes on every event it is
// handed, whatever the decision.
#include "check.h"

#include "gripwell/decision.h"
#include "gripwell/hold_modifier.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

using gripwell::KeyEvent;
using gripwell::Line;

CGEventType eventType(FuzzedDataProvider& input) {
    static constexpr CGEventType usual[] = {kCGEventFlagsChanged,
                                            kCGEventKeyDown,
                                            kCGEventKeyUp,
                                            kCGEventNull,
                                            kCGEventTapDisabledByTimeout,
                                            kCGEventTapDisabledByUserInput};
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
        return static_cast<CGEventType>(input.ConsumeIntegral<uint32_t>());
    }
    return usual[input.ConsumeIntegralInRange<std::size_t>(0, std::size(usual) - 1)];
}

// Flags made mostly of the modifier bits, and sometimes of anything.
CGEventFlags eventFlags(FuzzedDataProvider& input) {
    static constexpr CGEventFlags bits[] = {kCGEventFlagMaskAlphaShift,
                                            kCGEventFlagMaskShift,
                                            kCGEventFlagMaskControl,
                                            kCGEventFlagMaskAlternate,
                                            kCGEventFlagMaskCommand,
                                            kCGEventFlagMaskSecondaryFn,
                                            kCGEventFlagMaskNumericPad,
                                            kCGEventFlagMaskNonCoalesced,
                                            0x20,
                                            0x40};
    if (input.ConsumeIntegralInRange(0, 15) == 0) {
        return input.ConsumeIntegral<CGEventFlags>();
    }
    CGEventFlags flags = 0;
    for (CGEventFlags bit : bits) {
        if (input.ConsumeIntegralInRange(0, 2) == 0) {
            flags |= bit;
        }
    }
    return flags;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto modifier = static_cast<gripwell::HoldModifier>(input.ConsumeIntegralInRange(0, 4));
    const CGEventFlags mask = gripwell::flag(modifier);
    gripwell::HoldState state{mask, false};
    bool held = false; // what the lines so far tell a reader
    while (input.remaining_bytes() > 0) {
        KeyEvent event;
        event.type = eventType(input);
        event.flags = eventFlags(input);
        event.keycode = input.ConsumeBool() ? gripwell::spaceKeyCode
                                            : input.ConsumeIntegralInRange<int64_t>(-1, 130);
        event.autorepeat = input.ConsumeIntegralInRange(0, 3) == 0
                               ? input.ConsumeIntegral<int64_t>()
                               : input.ConsumeBool();

        const gripwell::Decision decision = gripwell::decide(event, state);
        state = decision.state;
        fuzzcheck::require(state.mask == mask, "the watched mask changed");
        const bool tapDisabled = event.type == kCGEventTapDisabledByTimeout ||
                                 event.type == kCGEventTapDisabledByUserInput;
        fuzzcheck::require(decision.reenableTap == tapDisabled,
                           "the tap is asked back for something else than a notice");

        const bool flagsChange = event.type == kCGEventFlagsChanged;
        const bool flagsHeld = (event.flags & mask) == mask;
        const bool freshSpace = event.type == kCGEventKeyDown &&
                                event.keycode == gripwell::spaceKeyCode && event.autorepeat == 0;
        if (!decision.line) {
            fuzzcheck::require(!(flagsChange && flagsHeld != held),
                               "a change of the watched key gave no line");
            fuzzcheck::require(!(freshSpace && held), "a fresh space press gave no line");
        } else {
            switch (*decision.line) {
            case Line::down:
                fuzzcheck::require(!held, "\"down\" twice");
                fuzzcheck::require(flagsChange && flagsHeld, "\"down\" without the flags held");
                held = true;
                break;
            case Line::up:
                fuzzcheck::require(held, "\"up\" without \"down\"");
                fuzzcheck::require(flagsChange && !flagsHeld, "\"up\" with the flags held");
                held = false;
                break;
            case Line::comboSpace:
                fuzzcheck::require(held, "\"combo_space\" outside \"down\"...\"up\"");
                fuzzcheck::require(freshSpace, "\"combo_space\" for no fresh space press");
                break;
            default:
                fuzzcheck::disagree("a start-up line from an event");
            }
        }
        fuzzcheck::require(state.isDown == held, "the state and the lines part");
    }
    return 0;
}
