// The workspace observer on the Linux desktop. Not done yet: nothing reports activations here (a
// later change watches the window manager's active window), so no line follows "ready".
#include "vantor/observer.h"

#include <CoreFoundation/CoreFoundation.h>

namespace vantor {

void observeActivations(ActivationHandler) {}

// The main run loop has no source and, as on a Mac, runs until the process is ended.
void runMainRunLoop() {
    CFRunLoopRun();
}

} // namespace vantor
