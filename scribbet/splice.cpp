#include "scribbet/splice.h"

namespace scribbet {

HelperResponse runDirectInsertion(TextInsertionContext, const std::u16string&, pid_t targetPid,
                                  std::optional<pid_t> focusedPid) {
    return {"unexpected_error", std::nullopt, std::nullopt, targetPid,
            focusedPid,         std::nullopt, std::nullopt};
}

} // namespace scribbet
