#include "gripwell/gripwell.h"

#include "base/cf_ptr.h"
#include "base/line_out.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace gripwell {
namespace {

// Process-wide state. run() sets it; afterwards only the tap callback touches it, on the main
// thread, inside CFRunLoopRun.
struct Monitor {
    HoldModifier modifier = HoldModifier::option;
    bool trusted = false;
    HoldState hold;
    CFMachPortRef tap = nullptr; // borrowed from run() while the run loop runs
};
Monitor monitor;

// The whole line in one write(2), unbuffered, so the host sees it at once. Needs SIGPIPE ignored,
// so that a reader that has gone shows as an outcome rather than a signal.
base::WriteOutcome writeLine(Line line) noexcept {
    return base::writeAll(STDOUT_FILENO, lineBytes(line)).outcome;
}

// Writes a line of the running tool. Other write failures are ignored, but once the reader has
// gone nobody will ever see a line again: an active filter must not stay in front of every
// keystroke of the session for nothing, so the process ends.
void emit(Line line) noexcept {
    if (writeLine(line) == base::WriteOutcome::readerGone) {
        std::exit(0);
    }
}

// The error line is written whether or not anyone reads it; the status tells the outcome.
int failStartUp(Line line, int status) noexcept {
    static_cast<void>(writeLine(line));
    return status;
}

// Reads only the fields that the decision tests for this type of event.
KeyEvent readEvent(CGEventType type, CGEventRef event) noexcept {
    KeyEvent fields;
    fields.type = type;
    if (event == nullptr) {
        return fields;
    }
    if (type == kCGEventFlagsChanged) {
        fields.flags = CGEventGetFlags(event);
    } else if (type == kCGEventKeyDown) {
        fields.keycode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
        fields.autorepeat = CGEventGetIntegerValueField(event, kCGKeyboardEventAutorepeat);
    }
    return fields;
}

} // namespace

CGEventRef tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    Decision decision = decide(readEvent(type, event), monitor.hold);
    monitor.hold = decision.state;
    if (decision.reenableTap && monitor.tap != nullptr) {
        // The system disabled the tap (a slow callback, or user input): without this no event
        // would reach it again while the host believes the key is watched.
        CGEventTapEnable(monitor.tap, true);
    }
    if (decision.line) {
        emit(*decision.line);
    }
    return event;
}

int run(const std::vector<std::string>& args) {
    std::signal(SIGPIPE, SIG_IGN);

    monitor = Monitor{};
    std::optional<std::string_view> word;
    if (args.size() > 1) {
        word = args[1];
    }
    monitor.modifier = fromArgument(word);

    // The plain trust test: it never prompts.
    monitor.trusted = AXIsProcessTrusted() != 0;
    if (!monitor.trusted) {
        return failStartUp(Line::accessibilityNotGranted, notTrustedStatus);
    }
    monitor.hold = HoldState{flag(monitor.modifier), false};

    // An active filter at the head of the session's taps; the user data stays NULL.
    auto tap = base::adopt(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                            kCGEventTapOptionDefault, eventsOfInterest,
                                            &tapCallback, nullptr));
    if (!tap) {
        return failStartUp(Line::eventTapFailed, eventTapFailedStatus);
    }
    auto source = base::adopt(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap.get(), 0));
    if (!source) {
        return failStartUp(Line::runLoopSourceFailed, runLoopSourceFailedStatus);
    }
    // Get rule: the current run loop is not ours to release.
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopCommonModes);
    monitor.tap = tap.get();
    CGEventTapEnable(tap.get(), true);
    emit(Line::ready);

    CFRunLoopRun();

    monitor.tap = nullptr;
    return 0;
}

} // namespace gripwell
