#include "scribbet/fast_paste.h"

#include "scribbet/ax.h"
#include "scribbet/workspace.h"

#include "base/cf_ptr.h"

#include <ApplicationServices/ApplicationServices.h>
#include <CoreGraphics/CoreGraphics.h>

#include <optional>
#include <string>
#include <utility>

namespace scribbet {

namespace {

constexpr CGKeyCode pasteKeyCode = 9; // kVK_ANSI_V
constexpr CGEventFlags pasteFlags = kCGEventFlagMaskCommand;

// One sample of the frontmost application. An application that reports no pid (-1) cannot be
// the target and has no process to report, so it counts as none.
std::optional<pid_t> sampleFrontmostPid() {
    const std::optional<pid_t> reported = frontmostApplicationPid();
    if (reported && *reported >= 1) {
        return reported;
    }
    return std::nullopt;
}

struct Activation {
    pid_t frontmostPidBefore = noFrontmostPid;
    bool confirmed = false;
    std::optional<pid_t> frontmostAtTimeout; // the last sample, when not confirmed
};

// Asks the target to become frontmost. The result code is not examined: the samples decide.
void requestActivation(pid_t targetPid) {
    const ElementPtr application = base::adopt(AXUIElementCreateApplication(targetPid));
    if (application != nullptr) {
        static_cast<void>(
            AXUIElementSetAttributeValue(application.get(), CFSTR("AXFrontmost"), kCFBooleanTrue));
    }
}

// The deadline is tested before each wait and the target after it, so a sample taken in the
// wait during which the deadline passes still counts.
Activation awaitFrontmost(pid_t targetPid) {
    const std::optional<pid_t> first = sampleFrontmostPid();
    const pid_t before = first.value_or(noFrontmostPid);
    const int64_t deadline = monotonicNanos() + activationTimeoutNanos;
    if (first == targetPid) {
        return {before, true, std::nullopt};
    }
    while (monotonicNanos() < deadline) {
        waitTurningMainRunLoop(activationPollNanos);
        if (sampleFrontmostPid() == targetPid) {
            return {before, true, std::nullopt};
        }
    }
    return {before, false, sampleFrontmostPid()};
}

enum class Keystroke { posted, eventCreateFailed };

// Both events exist before either is posted, so a failure never leaves a key held down.
Keystroke postPasteKeystroke() {
    // Not examined: without a source the events are created without one.
    const base::CfPtr<CGEventSourceRef> source =
        base::adopt(CGEventSourceCreate(kCGEventSourceStateHIDSystemState));
    const base::CfPtr<CGEventRef> keyDown =
        base::adopt(CGEventCreateKeyboardEvent(source.get(), pasteKeyCode, true));
    if (keyDown == nullptr) {
        return Keystroke::eventCreateFailed;
    }
    const base::CfPtr<CGEventRef> keyUp =
        base::adopt(CGEventCreateKeyboardEvent(source.get(), pasteKeyCode, false));
    if (keyUp == nullptr) {
        return Keystroke::eventCreateFailed;
    }
    // Replaces whatever modifier state the source lent the events: Command alone.
    CGEventSetFlags(keyDown.get(), pasteFlags);
    CGEventSetFlags(keyUp.get(), pasteFlags);
    CGEventPost(kCGHIDEventTap, keyDown.get());
    sleepNanos(keyHoldNanos);
    CGEventPost(kCGHIDEventTap, keyUp.get());
    sleepNanos(afterKeystrokeNanos);
    return Keystroke::posted;
}

// After the activation request: the first sample, whether the target came, and on a timeout
// the application in front at the last sample. Role, subrole and selectionUpdated never appear in
// this mode.
HelperResponse afterActivation(std::string status, pid_t targetPid,
                               std::optional<std::string> error, const Activation& activation) {
    HelperResponse response = targetOutcome(std::move(status), targetPid, std::move(error));
    response.focusedPid = activation.frontmostAtTimeout;
    response.frontmostPidBefore = activation.frontmostPidBefore;
    response.frontmostConfirmed = activation.confirmed;
    return response;
}

} // namespace

HelperResponse runFastPaste(pid_t targetPid) {
    if (!AXIsProcessTrusted()) {
        return targetOutcome("accessibility_not_trusted", targetPid, "accessibility_not_trusted");
    }
    requestActivation(targetPid);
    const Activation activation = awaitFrontmost(targetPid);
    if (!activation.confirmed) {
        return afterActivation("activation_failed", targetPid, "target_not_frontmost", activation);
    }
    switch (postPasteKeystroke()) {
    case Keystroke::posted:
        return afterActivation("inserted", targetPid, std::nullopt, activation);
    case Keystroke::eventCreateFailed:
        break;
    }
    return afterActivation("unexpected_error", targetPid, "cgevent_create_failed", activation);
}

} // namespace scribbet
