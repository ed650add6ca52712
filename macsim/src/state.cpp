// The state shared by every area of the simulation: call log, hooks, failures, clock, reset; and
// the control API's views of the CoreFoundation objects and texts.
#include "objects.h"

#include <cfcore/runloop.h>

#include "unicode/utf.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace macsim {
void resetDesktop(); // ax.cpp

namespace detail {
namespace {

struct Hook {
    std::string function;
    int nth;
    std::function<void()> action;
};

struct Shared {
    std::vector<Call> calls;
    std::unordered_map<std::string, int> callCounts;
    std::vector<Hook> hooks;
    Failures failures;
    int64_t clock = 0;
    std::vector<void (*)()> areaResets;
};

Shared& shared() {
    static Shared instance;
    return instance;
}

} // namespace

void fail(const std::string& message) {
    std::fprintf(stderr, "macsim: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

void logCall(const char* function, std::string target, std::string attribute) {
    Shared& state = shared();
    state.calls.push_back({function, std::move(target), std::move(attribute)});
    int count = ++state.callCounts[function];
    // Copy the matching actions first: an action may register further hooks.
    std::vector<std::function<void()>> due;
    for (const Hook& hook : state.hooks) {
        if (hook.function == function && hook.nth == count) {
            due.push_back(hook.action);
        }
    }
    for (auto& action : due) {
        action();
    }
}

void registerReset(void (*resetArea)()) {
    shared().areaResets.push_back(resetArea);
}

namespace {

// The run-loop calls that cfcore defines enter the call log like every other call, and two of
// them create nothing while their failure flag is set.
void logRunLoopCall(const char* function, std::string target, std::string detail) {
    logCall(function, std::move(target), std::move(detail));
}

bool refuseRunLoopCall(const char* function) {
    const std::string_view name = function;
    return (name == "CFFileDescriptorCreate" && shared().failures.fileDescriptorCreate) ||
           (name == "CFMachPortCreateRunLoopSource" && shared().failures.runLoopSourceCreate);
}

[[maybe_unused]] const bool hooked =
    (cfcore::setRunLoopCallHooks({&logRunLoopCall, &refuseRunLoopCall}), true);

} // namespace

} // namespace detail

using namespace detail;

// ---- UTF-8 and UTF-16 ------------------------------------------------------------------------

std::u16string utf16(std::string_view text) {
    auto decoded = unicode::utf16FromUtf8(text);
    if (!decoded) {
        fail("control API given text that is not UTF-8");
    }
    return *decoded;
}

std::string utf8(const std::u16string& text) {
    return unicode::utf8FromUtf16(text);
}

// ---- Shared state ----------------------------------------------------------------------------

const std::vector<Call>& calls() {
    return shared().calls;
}

std::vector<std::string> callStrings() {
    std::vector<std::string> out;
    for (const Call& call : shared().calls) {
        std::string line = call.function;
        if (!call.target.empty()) {
            line += " " + call.target;
        }
        if (!call.attribute.empty()) {
            line += " " + call.attribute;
        }
        out.push_back(line);
    }
    return out;
}

void clearCalls() {
    shared().calls.clear();
    shared().callCounts.clear();
}

void onCall(const std::string& function, int nth, std::function<void()> action) {
    shared().hooks.push_back({function, nth, std::move(action)});
}

Failures& failures() {
    return shared().failures;
}

int64_t nowNanos() {
    return shared().clock;
}

void advanceNanos(int64_t nanos) {
    if (nanos > 0) {
        shared().clock += nanos;
    }
}

std::size_t liveObjects() {
    return cfcore::liveObjects();
}

std::vector<std::string> liveObjectDescriptions() {
    return cfcore::liveObjectDescriptions();
}

void reset() {
    forgetMortalObjects();
    Shared& state = shared();
    state.calls.clear();
    state.callCounts.clear();
    state.hooks.clear();
    state.failures = Failures{};
    state.clock = 0;
    resetDesktop();
    for (auto resetArea : state.areaResets) {
        resetArea();
    }
}

} // namespace macsim
