#include <gtest/gtest.h>

#include "native/ori.h"

// The inventory passes external and physical as 1, having established both.
TEST(SafeTarget, AcceptsOnlyAKnownUnprotectedDiskWithASize) {
  EXPECT_EQ(ori_safe_target(1, 0, 1, 1, 1), 1);
  EXPECT_EQ(ori_safe_target(0, 0, 1, 1, UINT64_MAX), 0);
  EXPECT_EQ(ori_safe_target(1, 1, 1, 1, UINT64_MAX), 0);
  EXPECT_EQ(ori_safe_target(1, 0, 1, 1, 0), 0);
}
