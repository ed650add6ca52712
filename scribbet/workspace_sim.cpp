// The workspace services off Apple: answered by the simulated platform, on its simulated clock.
#include "scribbet/workspace.h"

#include <macsim/control.h>
#include <macsim/keyboard.h>

namespace scribbet {

std::optional<pid_t> frontmostApplicationPid() {
    return macsim::frontmostPid();
}

int64_t monotonicNanos() {
    return macsim::nowNanos();
}

void sleepNanos(int64_t nanos) {
    macsim::sleepNanos(nanos);
}

void waitTurningMainRunLoop(int64_t nanos) {
    macsim::turnMainRunLoopNanos(nanos);
}

} // namespace scribbet
