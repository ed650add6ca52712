// The workspace observer on the Linux desktop: the window manager's active window stands for the
// active application. The platform watches the root window's _NET_ACTIVE_WINDOW on an X
// connection of its own (in a Wayland session, the windows that the accessibility bus announces
// as activated, on a bus connection of its own); the main run loop waits on its descriptor as a
// CoreFoundation file descriptor source, and each activation the platform reports goes to the
// handler, in order, on the main thread.
#include "vantor/observer.h"

#include <CoreFoundation/CoreFoundation.h>
#include <xdesk/desktop.h>

namespace vantor {
namespace {

ActivationHandler registeredHandler = nullptr;

RunningApplication copyProperties(const xdesk::RunningApplication& application) {
    RunningApplication copied;
    copied.bundleIdentifier = application.bundleIdentifier;
    copied.localizedName = application.localizedName;
    copied.executableName = application.executableName;
    copied.processIdentifier = application.processIdentifier;
    return copied;
}

// The connection has something to read: every activation in it goes to the handler. The read
// callback is one-shot, so it is enabled again for the next news; once the display has gone
// there is none to wait for, and the run loop stops, ending the tool as a stopped run loop does.
void connectionReadable(CFFileDescriptorRef descriptor, CFOptionFlags, void*) {
    const xdesk::Activations news = xdesk::takeActivations();
    for (const xdesk::RunningApplication& application : news.activated) {
        registeredHandler(copyProperties(application));
    }
    if (news.ended) {
        CFFileDescriptorInvalidate(descriptor);
        CFRunLoopStop(CFRunLoopGetMain());
        return;
    }
    CFFileDescriptorEnableCallBacks(descriptor, kCFFileDescriptorReadCallBack);
}

} // namespace

// Without a display there is nothing to watch, and no activation is ever reported.
void observeActivations(ActivationHandler handler) {
    const std::optional<int> connection = xdesk::watchActivations();
    if (!connection || handler == nullptr) {
        return;
    }
    registeredHandler = handler;
    CFFileDescriptorRef descriptor = CFFileDescriptorCreate(kCFAllocatorDefault, *connection, false,
                                                            &connectionReadable, nullptr);
    if (descriptor == nullptr) {
        return;
    }
    CFFileDescriptorEnableCallBacks(descriptor, kCFFileDescriptorReadCallBack);
    CFRunLoopSourceRef source =
        CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, descriptor, 0);
    if (source != nullptr) {
        // The run loop keeps the source, and the source the descriptor, for good.
        CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
        CFRelease(source);
    }
    CFRelease(descriptor);
}

// Runs until the display goes away; on a Mac, until the process is ended.
void runMainRunLoop() {
    CFRunLoopRun();
}

} // namespace vantor
