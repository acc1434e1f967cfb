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

// What to put at a path: a device node ({S_IFBLK or S_IFCHR, device}), a
// symbolic link ({S_IFLNK, 0, target}), an empty file ({S_IFREG}), or
// nothing ({0}).
struct Node {
  Node(mode_t t = 0, dev_t d = 0, std::string to = "") : type(t), device(d), target(std::move(to)) {}
  mode_t type;
  dev_t device;
  std::string target;
};

// Puts `node` at /dev/NAME in place of what was there until the object goes.
class DevNode {
 public:
  DevNode(const std::string& name, const Node& node) : path_("/dev/" + name) {
    saved_ = rename(path_.c_str(), (path_ + ".saved").c_str()) == 0;
    const char* path = path_.c_str();
    const bool made = node.type == 0 ||
                      (node.type == S_IFLNK ? symlink(node.target.c_str(), path)
                                            : mknod(path, node.type | 0600, node.device)) == 0;
    if (!made) throw std::runtime_error("cannot make " + path_);
  }
  ~DevNode() {
    unlink(path_.c_str());
    if (saved_) rename((path_ + ".saved").c_str(), path_.c_str());
  }
  DevNode(const DevNode&) = delete;
  DevNode& operator=(const DevNode&) = delete;

 private:
  std::string path_;
  bool saved_ = false;
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
  const std::string raw = Platform::rawDevicePath(target.bsd).value_or("/dev/?").substr(5);
  const uint64_t block = sandboxSectorSize();
  TargetDisk larger = target, smaller = target, otherEntry = target, longName = target;
  larger.capacity += block;
  smaller.capacity -= block;
  otherEntry.registryID += 1;
  longName.bsd = "disk123456";
  // The sandbox's second drive has the same size and block size.
  const dev_t drive = deviceOf(sandboxLoop()), other = deviceOf(sandboxSecondLoop());
  ASSERT_NE(other, 0u);
  struct Case {
    const char* name;
    std::string at;  // the /dev entry changed
    Node node;
    TargetDisk target;
    std::string expected;
  } cases[] = {
      {"the drive", raw, Node{S_IFBLK, drive}, target,
       "opened " + std::to_string(block) + " " + std::to_string(target.capacity)},
      {"one block larger", raw, Node{S_IFBLK, drive}, larger, kChanged},
      {"one block smaller", raw, Node{S_IFBLK, drive}, smaller, kChanged},
      {"another registry entry", raw, Node{S_IFBLK, drive}, otherEntry, kChanged},
      {"no raw node", raw, Node{}, target, kLocked},
      {"raw node a symbolic link", raw, Node{S_IFLNK, 0, sandboxLoop()}, target, kLocked},
      {"raw node another disk of the same size", raw, Node{S_IFBLK, other}, target,
       kChanged},
      {"raw node a regular file", raw, Node{S_IFREG}, target, kChanged},
      {"raw node a character device", raw, Node{S_IFCHR, makedev(1, 3)}, target, kChanged},
      {"a name no attached disk has", raw, Node{S_IFBLK, drive}, longName, kLocked},
  };
  for (const Case& c : cases) {
    const DevNode swapped(c.at, c.node);
    EXPECT_EQ(finalOpen(c.target), c.expected) << c.name;
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
