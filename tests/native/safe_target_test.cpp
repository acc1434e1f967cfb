#include <gtest/gtest.h>

#include "native/ori.h"

// Each flag is 1 for yes, 0 for no and anything else for unknown.
TEST(SafeTarget, AcceptsOnlyAKnownUnprotectedExternalPhysicalDiskWithASize) {
  EXPECT_EQ(ori_safe_target(1, 0, 1, 1, 1), 1);
  const int unsafe[][4] = {{0, 0, 1, 1}, {2, 0, 1, 1}, {1, 1, 1, 1}, {1, 2, 1, 1},
                           {1, 0, 0, 1}, {1, 0, 2, 1}, {1, 0, 1, 0}, {1, 0, 1, 2}};
  for (const auto& f : unsafe)
    EXPECT_EQ(ori_safe_target(f[0], f[1], f[2], f[3], UINT64_MAX), 0)
        << f[0] << f[1] << f[2] << f[3];
  EXPECT_EQ(ori_safe_target(1, 0, 1, 1, 0), 0);
}
