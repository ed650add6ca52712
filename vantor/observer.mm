// The workspace observer on AppKit: registers for application activations on NSWorkspace's own
// notification center and copies each activated application into a RunningApplication.
#include "vantor/observer.h"

#include "base/utf.h"
#include "unicode/utf.h"

#import <AppKit/AppKit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace {

// The application that an activation notification names. userInfo may be nil, may lack the key,
// and holds an untyped value: each is tested before use.
NSRunningApplication* _Nullable activatedApplication(NSNotification* note) {
    NSDictionary* userInfo = note.userInfo;
    if (userInfo == nil) {
        return nil;
    }
    id value = userInfo[NSWorkspaceApplicationKey];
    if (value == nil || ![value isKindOfClass:[NSRunningApplication class]]) {
        return nil;
    }
    NSRunningApplication* application = value;
    return application;
}

// The text of an NSString as UTF-8, nil as nothing. Read as UTF-16 units through the toll-free
// bridge rather than -UTF8String, which stops at an embedded U+0000 and gives NULL for a string
// holding an unpaired surrogate. The bridge cast moves no ownership.
std::optional<std::string> copyText(NSString* _Nullable text) {
    if (text == nil) {
        return std::nullopt;
    }
    return unicode::utf8FromUtf16(base::stringUnits((__bridge CFStringRef)text));
}

vantor::RunningApplication copyProperties(NSRunningApplication* application) {
    vantor::RunningApplication copied;
    copied.bundleIdentifier = copyText(application.bundleIdentifier);
    copied.localizedName = copyText(application.localizedName);
    copied.executableName = copyText(application.executableURL.lastPathComponent);
    copied.processIdentifier = application.processIdentifier;
    return copied;
}

} // namespace

namespace vantor {

// The center keeps the observer for the life of the process; its token is not needed. Called
// before the run loop runs, so no pool would take the objects made here without one of its own.
void observeActivations(ActivationHandler handler) {
    @autoreleasepool {
        NSNotificationCenter* center = [NSWorkspace sharedWorkspace].notificationCenter;
        [center addObserverForName:NSWorkspaceDidActivateApplicationNotification
                            object:nil
                             queue:[NSOperationQueue mainQueue]
                        usingBlock:^(NSNotification* note) {
                          NSRunningApplication* application = activatedApplication(note);
                          if (application != nil) {
                              handler(copyProperties(application));
                          }
                        }];
    }
}

void runMainRunLoop() {
    [[NSRunLoop mainRunLoop] run];
}

} // namespace vantor
