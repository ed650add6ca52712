// Ownership through CfPtr against the simulated platform, which counts references strictly and
// aborts on a release of NULL or of a released object.
#include "base/cf_ptr.h"

#include <macsim/control.h>

#include <gtest/gtest.h>

namespace {

TEST(CfPtr, AdoptTakesOverRetainAddsOneAndNullIsNeverTouched) {
    macsim::reset();
    CFTypeRef object = macsim::createObject(macsim::text("x")); // Create rule: ours
    {
        const base::CfPtr<CFTypeRef> borrowed = base::retain(object);
        EXPECT_EQ(CFGetRetainCount(object), 2);
    }
    EXPECT_EQ(CFGetRetainCount(object), 1);
    {
        const base::CfPtr<CFTypeRef> owned = base::adopt(object);
        EXPECT_EQ(CFGetRetainCount(object), 1);
    }
    EXPECT_EQ(macsim::liveObjects(), 0u);
    EXPECT_EQ(base::adopt(CFTypeRef{nullptr}), nullptr);
    EXPECT_EQ(base::retain(CFTypeRef{nullptr}), nullptr);
}

} // namespace
