#include "gripwell/gripwell.h"

#include "base/cf_ptr.h"
#include "base/line_out.h"
#include "gripwell/output.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <utility>

namespace gripwell {
namespace {

// Process-wide state. run() sets it; afterwards only the tap callback and the output watch's
// callback touch it, on the main thread, inside CFRunLoopRun.
struct Monitor {
    HoldModifier modifier = HoldModifier::option;
    bool trusted = false;
    HoldState hold;
    CFMachPortRef tap = nullptr; // borrowed from run() while the run loop runs
    Output out{STDOUT_FILENO, OutputGuard::none, {}, 0};
    // Owned by run(); filled in when the first line has to wait.
    base::CfPtr<CFFileDescriptorRef>* outputWatch = nullptr;
};
Monitor monitor;

// The one way out of a running gripwell: once the reader has gone, or is so far behind that it is
// as good as gone, nobody will see a line again, and an active filter must not stay in front of
// every keystroke of the session for nothing. The tap goes with the process.
[[noreturn]] void endWatching() noexcept {
    std::exit(0);
}

// The run loop calls this once standard output takes data again. The callback is one-shot: it is
// enabled again for as long as lines wait.
void outputWritable(CFFileDescriptorRef watch, CFOptionFlags /*callBackTypes*/, void* /*info*/) {
    switch (writeKept(monitor.out)) {
    case FlushOutcome::done:
        return;
    case FlushOutcome::waiting:
        CFFileDescriptorEnableCallBacks(watch, kCFFileDescriptorWriteCallBack);
        return;
    case FlushOutcome::readerGone:
        endWatching();
    }
}

// Has the run loop call outputWritable when standard output takes data again. Without that
// source, waiting lines would never be written; the host learns more from the end of the process
// than from a silence.
void awaitWritableOutput() noexcept {
    base::CfPtr<CFFileDescriptorRef>& outputWatch = *monitor.outputWatch;
    if (!outputWatch) {
        CFFileDescriptorContext context = {0, nullptr, nullptr, nullptr, nullptr};
        // Standard output is not ours to close: it stays open when the watch is invalidated.
        auto watch = base::adopt(CFFileDescriptorCreate(kCFAllocatorDefault, monitor.out.fd, false,
                                                        &outputWritable, &context));
        if (!watch) {
            endWatching();
        }
        auto source =
            base::adopt(CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, watch.get(), 0));
        if (!source) {
            endWatching();
        }
        // The run loop retains the source, and the source the watch.
        CFRunLoopAddSource(CFRunLoopGetCurrent(), source.get(), kCFRunLoopCommonModes);
        outputWatch = std::move(watch);
    }
    CFFileDescriptorEnableCallBacks(outputWatch.get(), kCFFileDescriptorWriteCallBack);
}

// Writes a line of the running tool, or keeps it until standard output takes it; never waits.
// Other write failures are ignored: that line is lost.
void emit(Line line) noexcept {
    const bool alreadyWaiting = keptBytes(monitor.out) != 0;
    switch (writeOrKeep(monitor.out, lineBytes(line))) {
    case LineOutcome::written:
    case LineOutcome::dropped:
        return;
    case LineOutcome::kept:
        if (!alreadyWaiting) {
            awaitWritableOutput();
        }
        return;
    case LineOutcome::readerGone:
    case LineOutcome::tooFarBehind:
        endWatching();
    }
}

// The error line of a start-up that cannot complete: one whole write(2) to standard output as
// the host gave it, whether or not anyone reads it; the status tells the outcome. Needs SIGPIPE
// ignored, so that a reader that has gone shows as an outcome rather than a signal.
int failStartUp(Line line, int status) noexcept {
    static_cast<void>(base::writeAll(STDOUT_FILENO, lineBytes(line)));
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
    base::CfPtr<CFFileDescriptorRef> outputWatch;
    monitor.outputWatch = &outputWatch;
    monitor.out.guard = prepareOutput(monitor.out.fd);
    emit(Line::ready);

    CFRunLoopRun();

    if (outputWatch) {
        // Takes the watch's source out of the run loop; standard output stays open.
        CFFileDescriptorInvalidate(outputWatch.get());
    }
    monitor.outputWatch = nullptr;
    monitor.tap = nullptr;
    return 0;
}

} // namespace gripwell
