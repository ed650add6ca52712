// The simulated workspace activation notifications: NSWorkspace's notification center, the
// NSRunningApplication records its activation notifications carry, NSURL's last path component
// and the main run loop that delivers them.
//
// Tests script the notifications that the session will announce; the simulated AppKit bridge of
// a tool registers an observer and runs the main run loop, which delivers every scripted
// notification in order to every observer registered for it and then returns, as a run loop
// whose sources are all gone would. reset() clears the script and the observers.
//
// Call log entries (see control.h; onCall hooks run before each takes effect):
//   "addObserverForName workspaceCenter NAME"   an observer is registered for NAME
//   "NSRunLoopRun main"                          the main run loop starts
//   "postNotification workspaceCenter NAME"      one scripted notification is delivered
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace macsim {

// The name of the activation notification (NSWorkspaceDidActivateApplicationNotification).
inline constexpr std::string_view didActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";

// An NSRunningApplication. Absent properties are nil on the platform. executableURL is the
// URL's string, such as "file:///Applications/Tool.app/Contents/MacOS/tool".
struct ScriptedApplication {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    std::optional<std::string> executableURL;
    pid_t processIdentifier = -1; // what the platform reports for an application without a pid
};

// One activation notification, by what its user-info dictionary holds.
struct ActivationNotification {
    enum class Kind {
        noUserInfo,       // userInfo is nil
        noApplicationKey, // userInfo lacks NSWorkspaceApplicationKey
        notAnApplication, // the key's value is not an NSRunningApplication
        application,      // the key's value is `application`
    };
    Kind kind = Kind::application;
    ScriptedApplication application; // meaningful only for Kind::application
};

// ---- Control, for tests ----------------------------------------------------------------------

// Replaces the notifications that the next run of the main run loop delivers.
void scriptActivations(std::vector<ActivationNotification> notifications);
const std::vector<ActivationNotification>& scriptedActivations();

// Observers registered for the activation notification, and notifications delivered so far.
std::size_t activationObserverCount();
std::size_t deliveredActivations();

// ---- Platform side, called by the simulated AppKit bridge ------------------------------------

using NotificationBlock = std::function<void(const ActivationNotification&)>;

// -[[NSWorkspace sharedWorkspace].notificationCenter addObserverForName:name object:nil
// queue:NSOperationQueue.mainQueue usingBlock:block]. The center keeps the observer for good.
// Only the activation notification is ever posted; an observer for another name never runs.
void addWorkspaceObserver(std::string_view name, NotificationBlock block);

// -[[NSRunLoop mainRunLoop] run]: delivers the scripted notifications one at a time, each to
// every observer registered for it in the order of registration, then returns.
void runMainRunLoop();

// -[NSURL lastPathComponent] for a file URL given as a string: the last component of the URL's
// path with its percent escapes decoded, trailing slashes ignored ("/" for the root). As
// CoreFoundation does for POSIX paths, "%2F" stays escaped so that a component never holds a
// slash. A malformed escape, or escapes that do not decode to UTF-8, give nothing.
std::optional<std::string> lastPathComponent(std::string_view url);

} // namespace macsim
