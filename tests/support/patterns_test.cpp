#include <gtest/gtest.h>

#include <string>

#include "support/patterns.h"

TEST(Patterns, DiskNames) {
  EXPECT_TRUE(isShortWholeDiskName("disk4"));
  EXPECT_TRUE(isShortWholeDiskName("DISK00004"));
  EXPECT_TRUE(isShortWholeDiskName("dIsK99999"));
  EXPECT_FALSE(isShortWholeDiskName("disk123456"));
  EXPECT_FALSE(isShortWholeDiskName("disk"));
  EXPECT_FALSE(isShortWholeDiskName("disk4s1"));
  EXPECT_FALSE(isShortWholeDiskName("disk4\n"));
  EXPECT_FALSE(isShortWholeDiskName(" disk4"));

  EXPECT_TRUE(isWholeDiskName("disk1234567"));
  EXPECT_FALSE(isWholeDiskName("disk1s2"));

  EXPECT_TRUE(isPartitionName("disk1s2"));
  EXPECT_TRUE(isPartitionName("DISK10S12"));
  EXPECT_FALSE(isPartitionName("disk1s"));
  EXPECT_FALSE(isPartitionName("disks2"));
  EXPECT_FALSE(isPartitionName("disk1s2s3"));
}

TEST(Patterns, DigestsChannelsAndUuids) {
  EXPECT_TRUE(isHexDigest(std::string(64, 'f')));
  EXPECT_TRUE(isHexDigest(std::string(32, 'A') + std::string(32, '0')));
  EXPECT_FALSE(isHexDigest(std::string(63, 'a')));
  EXPECT_FALSE(isHexDigest(std::string(65, 'a')));
  EXPECT_FALSE(isHexDigest(std::string(63, 'a') + "g"));

  EXPECT_TRUE(isChannelPath("/private/tmp/ori-" + std::string(36, '-') + "/s"));
  EXPECT_TRUE(isChannelPath("/PRIVATE/tmp/ori-" + std::string(36, 'F') + "/S"));
  EXPECT_FALSE(isChannelPath("/private/tmp/ori-" + std::string(35, 'a') + "/s"));
  EXPECT_FALSE(isChannelPath("/private/tmp/ori-" + std::string(36, 'g') + "/s"));
  EXPECT_FALSE(isChannelPath("/private/tmp/ori-" + std::string(36, 'a') + "/s/"));
  EXPECT_FALSE(isChannelPath("/tmp/ori-" + std::string(36, 'a') + "/s"));

  EXPECT_TRUE(isCanonicalUuid("8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d"));
  EXPECT_TRUE(isCanonicalUuid("8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D"));
  for (const char* bad : {"{8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d}", "8d2a1f3c1b2e4f5a9c7d0e1f2a3b4c5d",
                          " 8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d", "8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5",
                          "8d2a1f3c-1b2e4-f5a-9c7d-0e1f2a3b4c5d", "8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5g"})
    EXPECT_FALSE(isCanonicalUuid(bad)) << bad;
}
