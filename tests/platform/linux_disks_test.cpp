#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "helpers/needs_root.h"
#include "helpers/sandbox.h"
#include "helpers/temp_dir.h"
#include "platform/platform.h"

class LinuxMounts : public NeedsRoot {};

TEST_F(LinuxMounts, VolumeOfResolvesLinksAndEscapedMountPoints) {
  TempDir dir;
  const std::string mountPoint = (dir / "with space");
  const std::string result = runSandboxed(Sandbox{}, [&] {
    if (mkdir(mountPoint.c_str(), 0755) != 0 ||
        mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, nullptr) != 0 ||
        mkdir((mountPoint + "/inner").c_str(), 0755) != 0 ||
        symlink((mountPoint + "/inner").c_str(), (dir / "link").c_str()) != 0)
      return std::string("setup failed");
    return Platform::volumeOf(mountPoint + "/inner").value_or("none") + "|" +
           Platform::volumeOf((dir / "link")).value_or("none") + "|" +
           Platform::volumeOf(mountPoint).value_or("none");
  });
  EXPECT_EQ(result, mountPoint + "|" + mountPoint + "|" + mountPoint);
}

TEST(LinuxPlatform, VolumeOfAMissingPathIsTheSystemError) {
  try {
    Platform::volumeOf("/nonexistent/writer/path");
    ADD_FAILURE() << "resolved";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
  }
}

TEST(LinuxPlatform, PipesAreCloseOnExec) {
  auto [readEnd, writeEnd] = Platform::makePipe();
  EXPECT_EQ(fcntl(readEnd.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(fcntl(writeEnd.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(write(writeEnd.get(), "x", 1), 1);
  char byte = 0;
  EXPECT_EQ(read(readEnd.get(), &byte, 1), 1);
  EXPECT_EQ(byte, 'x');
}
