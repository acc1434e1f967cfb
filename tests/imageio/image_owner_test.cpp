#include <gtest/gtest.h>

#include "imageio/image_owner.h"

// The unknown user's files count as the user's own only where the volume
// ignores ownership; nobody else's ever do.
TEST(ImageOwner, TakesTheUnknownUserOnlyWhereOwnershipIsIgnored) {
  struct Case {
    uint32_t fileOwner;
    bool ownershipIgnored;
    bool own;
  } cases[] = {
      {501, false, true}, {501, true, true},  {99, true, true},   {99, false, false},
      {0, true, false},   {502, true, false}, {502, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(countsAsOwnFile(c.fileOwner, 501, c.ownershipIgnored), c.own)
        << c.fileOwner << (c.ownershipIgnored ? " on a volume ignoring ownership" : "");
}
