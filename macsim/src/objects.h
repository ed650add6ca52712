// Internal object model of the simulated platform, shared by its areas (Accessibility, events,
// run loops, workspace). The CoreFoundation objects themselves, and the events that keyboard
// posting and the taps share, come from cfcore. Not part of the control API.
#pragma once

#include <cfcore/objects.h>
#include <macsim/control.h>

#include <memory>
#include <string>

namespace macsim::detail {

using namespace cfcore;

struct ElementObject : Object {
    enum class Kind { systemWide, application, named };
    Kind kind;
    pid_t pid = 0;
    std::string name;
    ElementObject(Kind k, pid_t p, std::string n)
        : Object(elementTypeId), kind(k), pid(p), name(std::move(n)) {}
    std::string target() const; // "system-wide", "app:PID" or the element's name
    std::string describe() const override;
};

// Reports a misuse of the simulation ("macsim: MESSAGE" on standard error) and aborts.
[[noreturn]] void fail(const std::string& message);

// Appends to the call log and runs the hooks registered for this call.
void logCall(const char* function, std::string target = {}, std::string attribute = {});

} // namespace macsim::detail
