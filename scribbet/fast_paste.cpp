#include "scribbet/fast_paste.h"

namespace scribbet {

HelperResponse runFastPaste(pid_t targetPid) {
    return {"unexpected_error", std::nullopt, std::nullopt, targetPid,
            std::nullopt,       std::nullopt, std::nullopt};
}

} // namespace scribbet
