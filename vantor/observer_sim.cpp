// The workspace observer against the simulated platform: the same steps as observer.mm, on the
// simulated notification center, running-application records and URLs.
#include "vantor/observer.h"

#include <macsim/activations.h>

namespace vantor {
namespace {

using Kind = macsim::ActivationNotification::Kind;

// The application that a notification names, if its user info holds one (steps as in the
// AppKit bridge: no user info, no application key, or a value of another type give nothing).
const macsim::ScriptedApplication*
activatedApplication(const macsim::ActivationNotification& note) {
    switch (note.kind) {
    case Kind::noUserInfo:
    case Kind::noApplicationKey:
    case Kind::notAnApplication:
        return nullptr;
    case Kind::application:
        return &note.application;
    }
    return nullptr;
}

RunningApplication copyProperties(const macsim::ScriptedApplication& application) {
    RunningApplication copied;
    copied.bundleIdentifier = application.bundleIdentifier;
    copied.localizedName = application.localizedName;
    if (application.executableURL) {
        copied.executableName = macsim::lastPathComponent(*application.executableURL);
    }
    copied.processIdentifier = application.processIdentifier;
    return copied;
}

} // namespace

void observeActivations(ActivationHandler handler) {
    macsim::addWorkspaceObserver(macsim::didActivateApplicationNotification,
                                 [handler](const macsim::ActivationNotification& note) {
                                     if (auto* application = activatedApplication(note)) {
                                         handler(copyProperties(*application));
                                     }
                                 });
}

void runMainRunLoop() {
    macsim::runMainRunLoop();
}

} // namespace vantor
