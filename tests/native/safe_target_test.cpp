#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "native/ori.h"

// Exactly one combination of the four flags is safe, and only with a size.
TEST(SafeTarget, AcceptsOnlyAKnownUnprotectedExternalPhysicalDiskWithASize) {
  const uint64_t sizes[] = {0, 1, std::numeric_limits<uint64_t>::max()};
  for (int known : {0, 1, 2})
    for (int isProtected : {0, 1, 2})
      for (int external : {0, 1, 2})
        for (int physical : {0, 1, 2})
          for (uint64_t size : sizes) {
            const int expected =
                known == 1 && isProtected == 0 && external == 1 && physical == 1 && size != 0;
            EXPECT_EQ(ori_safe_target(known, isProtected, external, physical, size), expected)
                << known << isProtected << external << physical << " " << size;
          }
}
