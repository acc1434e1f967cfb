// Run inside scripts/sandbox, which leaves this process a mount namespace of
// its own to mount in.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/platform.h"

TEST(VolumeOf, ResolvesLinksAndEscapedMountPoints) {
  const std::string mountPoint = "/tmp/with space";
  ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
  ASSERT_EQ(mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, nullptr), 0);
  ASSERT_EQ(mkdir((mountPoint + "/inner").c_str(), 0755), 0);
  ASSERT_EQ(symlink((mountPoint + "/inner").c_str(), "/tmp/link"), 0);
  ASSERT_EQ(mkdir("/tmp/with", 0755), 0);  // a prefix of the name, not an ancestor
  EXPECT_EQ(Platform::volumeOf(mountPoint + "/inner"), mountPoint);
  EXPECT_EQ(Platform::volumeOf("/tmp/link/"), mountPoint);
  EXPECT_EQ(Platform::volumeOf("/tmp/with"), "/tmp");
  unlink("/tmp/link");
  rmdir("/tmp/with");
  umount(mountPoint.c_str());
  rmdir(mountPoint.c_str());
  try {
    Platform::volumeOf("/nonexistent/writer/path");
    ADD_FAILURE() << "resolved";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
  }
}
