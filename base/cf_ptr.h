// Ownership of CoreFoundation references. Every owned reference lives in a CfPtr; the call site
// says how it got it: adopt() for a Create or Copy result (we already own it), retain() for a
// borrowed one (Get rule, or a reference we keep beyond its owner).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace base {

// Releases a non-NULL reference; unique_ptr never calls it for NULL.
struct CfReleaser {
    void operator()(CFTypeRef ref) const noexcept { CFRelease(ref); }
};

template <class Ref> using CfPtr = std::unique_ptr<std::remove_pointer_t<Ref>, CfReleaser>;

// Takes over a reference returned under the Create or Copy rule. NULL gives an empty pointer.
template <class Ref> [[nodiscard]] CfPtr<Ref> adopt(Ref ref) noexcept {
    return CfPtr<Ref>(ref);
}

// Takes a reference of our own on a borrowed object. NULL gives an empty pointer.
template <class Ref> [[nodiscard]] CfPtr<Ref> retain(Ref ref) noexcept {
    if (ref != nullptr) {
        CFRetain(ref);
    }
    return CfPtr<Ref>(ref);
}

} // namespace base
