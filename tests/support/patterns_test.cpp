#include "support/patterns.h"

#include <gtest/gtest.h>

#include <string>

// Boundaries of each rule are in the validation tests; here, what holds for
// every pattern: whole values only, either case.
TEST(Patterns, MatchWholeValuesInEitherCase) {
  const std::string hex(36, 'a');
  struct Case {
    bool (*matches)(std::string_view);
    std::string text;
    bool expected;
  } cases[] = {
      {isShortWholeDiskName, "DISK00004", true}, {isShortWholeDiskName, "disk", false},
      {isShortWholeDiskName, "disk4\n", false},   {isShortWholeDiskName, " disk4", false},
      {isWholeDiskName, "disk1234567", true},     {isWholeDiskName, "disk1s2", false},
      {isPartitionName, "DISK10S12", true},       {isPartitionName, "disk1s", false},
      {isPartitionName, "disks2", false},         {isPartitionName, "disk1s2s3", false},
      {isHexDigest, std::string(64, 'F'), true},  {isHexDigest, std::string(65, 'a'), false},
      {isChannelPath, "/PRIVATE/tmp/ori-" + std::string(36, 'F') + "/S", true},
      {isChannelPath, "/private/tmp/ori-" + hex.substr(1) + "/s", false},
      {isChannelPath, "/private/tmp/ori-" + hex + "/s/", false},
      {isCanonicalUuid, "8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D", true},
      {isCanonicalUuid, "8d2a1f3c1b2e4f5a9c7d0e1f2a3b4c5d", false},
      {isCanonicalUuid, "8d2a1f3c-1b2e4-f5a-9c7d-0e1f2a3b4c5d", false},
      {isCanonicalUuid, "8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5g", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.matches(c.text), c.expected) << c.text;
}
