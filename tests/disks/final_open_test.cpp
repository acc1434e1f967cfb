// The final open against the sandbox's drive (run with 512- and 4096-byte
// sectors), with its nodes, its lock and its attachment changed behind the
// writer's back.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <system_error>

#include "disks/disk_inventory.h"
#include "helpers/sandbox_drive.h"
#include "helpers/temp_dir.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "records/imager_error.h"

namespace {

// What to put at a path: a device node (S_IFBLK or S_IFCHR), a symbolic
// link to the drive (S_IFLNK), an empty file (S_IFREG), or nothing (0).
struct Node {
  mode_t type;
  dev_t device;
  bool place(const std::string& path) const {
    if (type == S_IFLNK) return symlink(sandbox("DEVICE").c_str(), path.c_str()) == 0;
    return type == 0 || mknod(path.c_str(), type | 0600, device) == 0;
  }
};

const std::string kLocked = "Cannot lock the drive. Close apps using it, reconnect it and retry.";
const std::string kChanged = "Final device identity or capacity changed.";

// "opened BLOCK CAPACITY" for a blocking, direct, read-write descriptor, or
// the error's text, noting a descriptor left behind.
std::string finalOpen(const TargetDisk& target) {
  const int before = openDescriptorCount();
  try {
    const UniqueFd fd = DiskInventory::openFinal(target);
    uint32_t block = 0;
    uint64_t capacity = 0;
    const int flags = fcntl(fd.get(), F_GETFL) & (O_ACCMODE | O_NONBLOCK | O_DIRECT);
    if (flags != (O_RDWR | O_DIRECT) || ori_geometry(fd.get(), &block, &capacity) != 1)
      return "unexpected descriptor";
    return "opened " + std::to_string(block) + " " + std::to_string(capacity);
  } catch (const std::exception& error) {
    return error.what() + std::string(openDescriptorCount() != before ? " (descriptor left)" : "");
  }
}

dev_t deviceOf(const std::string& node) {
  struct stat status{};
  stat(node.c_str(), &status);
  return status.st_rdev;
}

}  // namespace

TEST(FinalOpen, OpensTheConfirmedDriveAndNothingElse) {
  const TargetDisk target = sandboxTarget();
  const std::string node = Platform::rawDevicePath(target.bsd).value_or("/dev/?");
  const uint64_t block = std::stoul(sandbox("SECTOR_SIZE"));
  TargetDisk larger = target, smaller = target, otherEntry = target, longName = target;
  larger.capacity += block;
  smaller.capacity -= block;
  otherEntry.registryID += 1;
  longName.bsd = "disk123456";
  // The sandbox's second drive has the same size and block size.
  const dev_t drive = deviceOf(sandbox("DEVICE")), other = deviceOf(sandbox("DEVICE2"));
  ASSERT_NE(other, 0u);
  struct Case {
    const char* name;
    Node node;
    TargetDisk target;
    std::string expected;
  } cases[] = {
      {"the drive", Node{S_IFBLK, drive}, target,
       "opened " + std::to_string(block) + " " + std::to_string(target.capacity)},
      {"one block larger", Node{S_IFBLK, drive}, larger, kChanged},
      {"one block smaller", Node{S_IFBLK, drive}, smaller, kChanged},
      {"another registry entry", Node{S_IFBLK, drive}, otherEntry, kChanged},
      {"no raw node", Node{0, 0}, target, kLocked},
      {"raw node a symbolic link", Node{S_IFLNK, 0}, target, kLocked},
      {"raw node another disk of the same size", Node{S_IFBLK, other}, target, kChanged},
      {"raw node a regular file", Node{S_IFREG, 0}, target, kChanged},
      {"raw node a character device", Node{S_IFCHR, makedev(1, 3)}, target, kChanged},
      {"a name no attached disk has", Node{S_IFBLK, drive}, longName, kLocked},
  };
  const std::string saved = node + ".saved";
  for (const Case& c : cases) {
    ASSERT_EQ(rename(node.c_str(), saved.c_str()), 0);
    ASSERT_TRUE(c.node.place(node)) << c.name;
    EXPECT_EQ(finalOpen(c.target), c.expected) << c.name;
    unlink(node.c_str());
    ASSERT_EQ(rename(saved.c_str(), node.c_str()), 0);
  }
}

// Held through another open file description with the lock others take
// with flock. (Held by an exclusive open, re-attached: the e2e cases.)
TEST(FinalOpen, RefusesADriveLockedElsewhere) {
  const TargetDisk target = sandboxTarget();
  {
    const UniqueFd held(
        open(Platform::rawDevicePath(target.bsd).value_or("").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(held.get(), LOCK_EX), 0);
    EXPECT_EQ(finalOpen(target), kLocked);
    try {
      DiskInventory::openFinal(target);
      ADD_FAILURE() << "opened a drive locked elsewhere";
    } catch (const ImagerError& error) {
      EXPECT_EQ(error.reason(), std::errc::resource_unavailable_try_again);
    }
  }
  EXPECT_EQ(finalOpen(target).substr(0, 6), "opened");
}
