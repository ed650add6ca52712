// The CoreFoundation object model (cfcore) as this platform's sources use it, with the registry's
// functions by their short names.
#pragma once

#include <cfcore/objects.h>

namespace xdesk {

using cfcore::lookup;
using cfcore::lookupAs;
using cfcore::toRef;
using cfcore::track;

} // namespace xdesk
