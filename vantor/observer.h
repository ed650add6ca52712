// The seam between vantor and the platform's workspace notifications. observer.mm implements it
// with AppKit; observer_sim.cpp with the simulated platform; observer_linux.cpp on the Linux
// desktop, where the window manager's active window stands for the active application. They only
// copy what the platform reports; every decision about what to write is vantor's.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace vantor {

// The activated application as the platform reports it. Each text is UTF-8 and absent exactly
// when the platform's property is nil; an empty text is present.
struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    std::optional<std::string> executableName; // last path component of the executable's URL
    pid_t processIdentifier = -1;
};

using ActivationHandler = void (*)(const RunningApplication&);

// Registers `handler` for every application activation in the session, on the main queue. A
// notification without user info, without an application, or whose application is not a
// running-application record never reaches the handler. The registration is never removed.
void observeActivations(ActivationHandler handler);

// Runs the main thread's run loop, which calls the handler. Returns only when the run loop stops
// or has nothing left to serve: never on a Mac; on the Linux desktop once the display has gone;
// after the scripted notifications in the simulation.
void runMainRunLoop();

} // namespace vantor
