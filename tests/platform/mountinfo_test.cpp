#include "platform/linux/mountinfo.h"

#include <gtest/gtest.h>

// Without a mount id (kernels before 5.8), the mount of the file's device
// whose point holds the path, the last listed of them; escapes undone.
TEST(MountInfo, PicksTheMountHoldingAPathWithOrWithoutItsId) {
  const char* table =
      "21 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
      "30 21 8:17 / /media/a\\040b rw - vfat /dev/sdb1 rw\n"
      "31 21 8:17 /sub /media/ab rw - vfat /dev/sdb1 rw\n"
      "32 21 8:2 /srv /srv rw - ext4 /dev/sda2 rw\n"
      "33 21 8:2 / /srv rw - ext4 /dev/sda2 rw\n"
      "40 21 8:33 / /mnt/deep/inner rw - ext4 /dev/sdc1 rw\n"
      "41 21 8:33 / /mnt rw - ext4 /dev/sdc1 rw\n"
      "broken\n";
  const struct {
    const char* path;
    std::optional<uint64_t> id;
    const char* device;
    std::optional<std::string> expected;
  } cases[] = {
      {"/home/x", std::nullopt, "8:2", "/"},
      {"/media/a b/os.img", std::nullopt, "8:17", "/media/a b"},
      {"/media/ab/os.img", std::nullopt, "8:17", "/media/ab"},
      {"/media/abc", std::nullopt, "8:17", std::nullopt},  // a prefix, not an ancestor
      {"/srv/www", std::nullopt, "8:2", "/srv"},           // over / and over the bind
      {"/mnt/deep/inner/x", std::nullopt, "8:33", "/mnt"},  // hidden by the later mount
      {"/media/ab/os.img", std::nullopt, "8:2", "/"},
      {"/srv/www", std::nullopt, "8:99", std::nullopt},
      {"/srv/www", 32, "", "/srv"},
      {"/anything", 30, "", "/media/a b"},
      {"/srv/www", 99, "8:2", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(mountPointHolding(table, c.path, c.id, c.device), c.expected) << c.path;
  EXPECT_EQ(unescapeMountField("a\\011b\\134\\0x\\"), "a\tb\\\\0x\\");
}
