// Fast paste: bring the target to the front and post Command+V.
#pragma once

#include "scribbet/response.h"

namespace scribbet {

[[nodiscard]] HelperResponse runFastPaste(pid_t targetPid);

} // namespace scribbet
