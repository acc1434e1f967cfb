#include "platform/linux/mountinfo.h"

#include <gtest/gtest.h>

namespace {

std::string line(const std::string& mountPoint) {
  return "36 35 98:0 / " + mountPoint + " rw,noatime master:1 - ext3 /dev/root rw\n";
}

}  // namespace

TEST(MountInfo, UndoesTheKernelsOctalEscapes) {
  EXPECT_EQ(unescapeMountField("/mnt/with\\040space"), "/mnt/with space");
  EXPECT_EQ(unescapeMountField("/a\\011b\\012c\\134d"), "/a\tb\nc\\d");
  EXPECT_EQ(unescapeMountField("/plain"), "/plain");
  EXPECT_EQ(unescapeMountField("/cut\\04"), "/cut\\04");
  EXPECT_EQ(unescapeMountField("/not\\09x"), "/not\\09x");
}

TEST(MountInfo, FindsTheLongestMountPointHoldingAPath) {
  const std::string table = line("/") + line("/mnt") + line("/mnt/a") + line("/mnt/with\\040space");
  struct Case {
    const char* path;
    std::optional<std::string> expected;
  } cases[] = {
      {"/", "/"},
      {"/etc/passwd", "/"},
      {"/mnt", "/mnt"},
      {"/mnt/a", "/mnt/a"},
      {"/mnt/a/b/c", "/mnt/a"},
      {"/mnt/ab", "/mnt"},  // a prefix of the name is not an ancestor
      {"/mnt/with space/x", "/mnt/with space"},
      {"/mnt/with", "/mnt"},
  };
  for (const Case& c : cases) EXPECT_EQ(longestMountPoint(table, c.path), c.expected) << c.path;
  EXPECT_EQ(longestMountPoint(line("/mnt"), "/etc"), std::nullopt);
  EXPECT_EQ(longestMountPoint("", "/"), std::nullopt);
  EXPECT_EQ(longestMountPoint("garbage\n\n" + line("/"), "/x"), "/");
}
