#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "helpers/temp_dir.h"
#include "platform/platform.h"

// A directory on the image's path that is a link (one swapped in for a real
// directory could lead anywhere, /dev included) stops the open; the same
// file reached without one opens.
TEST(CheckedOpen, ALinkedDirectoryOnThePathCannotOpen) {
  const TempDir dir;
  const std::string& real = dir.path();
  ASSERT_EQ(mkdir((real + "/real").c_str(), 0755), 0);
  writeFile(real + "/real/image", "image");
  ASSERT_EQ(symlink((real + "/real").c_str(), (real + "/linked").c_str()), 0);
  const auto any = [](const struct stat&) { return true; };
  UniqueFd fd;
  EXPECT_EQ(Platform::openCheckedForReading(real + "/real/image", any, fd),
            Platform::CheckedOpen::opened);
  UniqueFd linked;
  EXPECT_EQ(Platform::openCheckedForReading(real + "/linked/image", any, linked),
            Platform::CheckedOpen::cannotOpen);
  EXPECT_FALSE(linked);
}
