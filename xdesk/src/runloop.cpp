// Event taps and run loops on the Linux desktop. Not done yet: there is no keyboard tap (a later
// change builds one on XInput2), so CGEventTapCreate returns NULL and gripwell reports that its
// tap failed. The run loop has nothing to serve and, like a Mac's main run loop without sources,
// runs until the process is ended.
#include <cfcore/objects.h>

#include <cerrno>
#include <time.h>
#include <unistd.h>

namespace {

using cfcore::lookupAs;

struct RunLoopObject : cfcore::Object {
    RunLoopObject() : Object(cfcore::runLoopTypeId) {}
};

RunLoopObject* theRunLoop() {
    static RunLoopObject* loop = [] {
        RunLoopObject* object = cfcore::track(std::make_unique<RunLoopObject>());
        cfcore::makeImmortal(object);
        return object;
    }();
    return loop;
}

} // namespace

extern "C" {

CFMachPortRef CGEventTapCreate(CGEventTapLocation, CGEventTapPlacement, CGEventTapOptions,
                               CGEventMask, CGEventTapCallBack, void*) {
    return nullptr;
}

// No tap, mach port or run-loop source ever exists here, so each of these can only be handed
// something that is not one, and aborts on it as CoreFoundation would crash.
void CGEventTapEnable(CFMachPortRef tap, bool) {
    lookupAs<cfcore::Object>(tap, cfcore::machPortTypeId, "CGEventTapEnable");
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
    lookupAs<cfcore::Object>(tap, cfcore::machPortTypeId, "CGEventTapIsEnabled");
    return false;
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port, CFIndex) {
    lookupAs<cfcore::Object>(port, cfcore::machPortTypeId, "CFMachPortCreateRunLoopSource");
    return nullptr;
}

CFRunLoopRef CFRunLoopGetCurrent(void) {
    return cfcore::toRef<CFRunLoopRef>(theRunLoop());
}

CFRunLoopRef CFRunLoopGetMain(void) {
    return cfcore::toRef<CFRunLoopRef>(theRunLoop());
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    lookupAs<RunLoopObject>(rl, cfcore::runLoopTypeId, "CFRunLoopAddSource");
    lookupAs<cfcore::Object>(source, cfcore::runLoopSourceTypeId, "CFRunLoopAddSource");
    cfcore::stringText(mode, "CFRunLoopAddSource");
}

void CFRunLoopRun(void) {
    for (;;) {
        pause(); // returns after a handled signal; only the end of the process ends the loop
    }
}

void CFRunLoopStop(CFRunLoopRef rl) {
    lookupAs<RunLoopObject>(rl, cfcore::runLoopTypeId, "CFRunLoopStop");
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds, Boolean) {
    cfcore::stringText(mode, "CFRunLoopRunInMode");
    if (seconds > 0) {
        struct timespec left;
        left.tv_sec = static_cast<time_t>(seconds);
        left.tv_nsec = static_cast<long>((seconds - static_cast<double>(left.tv_sec)) * 1e9);
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    return kCFRunLoopRunTimedOut;
}

} // extern "C"
