#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "disks/disk_inventory.h"
#include "helpers/loop_device.h"
#include "helpers/needs_root.h"
#include "helpers/sandbox.h"
#include "native/ori.h"

// The final open runs against loop devices that a private /dev names
// /dev/rdisk7 (the raw node) and /dev/disk7 (the registry's node).

namespace {

constexpr uint64_t kBytes = 8 << 20;
const std::string kLocked = "Cannot lock the drive. Close apps using it, reconnect it and retry.";
const std::string kChanged = "Final device identity or capacity changed.";

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

std::vector<SandboxNode> diskNodes(const std::string& bsd, dev_t device) {
  return {{"r" + bsd, S_IFBLK, device, ""}, {bsd, S_IFBLK, device, ""}};
}

TargetDisk targetFor(const LoopDevice& loop, uint64_t bytes = kBytes) {
  return {"disk7", "Stick", bytes, loop.diskseq(), "USB"};
}

// What the descriptor returned by the final open can do, checked inside the
// sandbox: blocking, direct, reading back what it wrote.
std::string describeOpened(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if ((flags & O_NONBLOCK) != 0 || (flags & O_DIRECT) == 0) return "unexpected flags";
  uint32_t blockSize = 0;
  uint64_t capacity = 0;
  if (ori_geometry(fd, &blockSize, &capacity) != 1) return "no geometry";
  void* raw = nullptr;
  if (posix_memalign(&raw, 4096, 4096) != 0) return "no memory";
  std::unique_ptr<char, decltype(&free)> block(static_cast<char*>(raw), &free);
  std::fill_n(block.get(), 4096, 'w');
  if (pwrite(fd, block.get(), 4096, 4096) != 4096) return "write failed";
  std::fill_n(block.get(), 4096, 0);
  if (pread(fd, block.get(), 4096, 4096) != 4096 || block.get()[4095] != 'w') return "read failed";
  return "opened " + std::to_string(blockSize) + " " + std::to_string(capacity);
}

// The final open's outcome, or its message; notes a descriptor left behind.
std::string finalOpen(const TargetDisk& target) {
  const std::size_t before = openDescriptors();
  try {
    UniqueFd fd = DiskInventory::openFinal(target);
    return describeOpened(fd.get());
  } catch (const std::exception& error) {
    const bool leaked = openDescriptors() != before;
    return std::string(error.what()) + (leaked ? " (descriptor left open)" : "");
  }
}

std::string finalOpenIn(const std::vector<SandboxNode>& nodes, const TargetDisk& target) {
  return runSandboxed(privateDevWith(nodes), [&] { return finalOpen(target); });
}

}  // namespace

class FinalOpen : public NeedsRoot {};
class RegistryID : public NeedsRoot {};

TEST_F(FinalOpen, OpensTheConfirmedDriveForDirectBlockingIO) {
  LoopDevice loop(kBytes);
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), targetFor(loop)), "opened 512 8388608");
}

TEST_F(FinalOpen, OpensADriveWith4096ByteSectors) {
  LoopDevice loop(kBytes, 4096);
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), targetFor(loop)), "opened 4096 8388608");
  TargetDisk oneBlockShort = targetFor(loop, kBytes - 4096);
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), oneBlockShort), kChanged);
}

TEST_F(FinalOpen, RefusesANodeOrDriveThatIsNotTheConfirmedOne) {
  LoopDevice loop(kBytes);
  const dev_t device = loop.device();
  const TargetDisk target = targetFor(loop);
  TargetDisk larger = target, smaller = target, otherEntry = target, longName = target;
  larger.capacity += 512;
  smaller.capacity -= 512;
  otherEntry.registryID += 1;
  longName.bsd = "disk123456";
  const SandboxNode registry{"disk7", S_IFBLK, device, ""};
  const SandboxNode raw{"rdisk7", S_IFBLK, device, ""};
  struct Case {
    const char* name;
    std::vector<SandboxNode> nodes;
    TargetDisk target;
    std::string expected;
  } cases[] = {
      {"no raw node", {registry}, target, kLocked},
      {"raw node a symbolic link",
       {registry, {"loop", S_IFBLK, device, ""}, {"rdisk7", S_IFLNK, 0, "/dev/loop"}}, target,
       kLocked},
      {"raw node a regular file", {registry, {"rdisk7", S_IFREG, 0, ""}}, target, kChanged},
      {"raw node a character device", {registry, {"rdisk7", S_IFCHR, makedev(1, 3), ""}}, target,
       kChanged},
      {"one block larger", {registry, raw}, larger, kChanged},
      {"one block smaller", {registry, raw}, smaller, kChanged},
      {"another registry entry", {registry, raw}, otherEntry, kChanged},
      {"no registry node", {raw}, target, kChanged},
      {"registry node not a block device", {raw, {"disk7", S_IFCHR, makedev(1, 3), ""}}, target,
       kChanged},
      {"name the writer never acts on", diskNodes("disk123456", device), longName, kChanged},
  };
  for (const Case& c : cases) EXPECT_EQ(finalOpenIn(c.nodes, c.target), c.expected) << c.name;
}

TEST_F(FinalOpen, RefusesADriveReattachedUnderTheSameName) {
  LoopDevice loop(kBytes);
  const TargetDisk confirmed = targetFor(loop);
  loop.reattach();
  ASSERT_NE(loop.diskseq(), confirmed.registryID);
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), confirmed), kChanged);
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), targetFor(loop)), "opened 512 8388608");
}

TEST_F(FinalOpen, RefusesADriveHeldExclusivelyByAnotherProcess) {
  LoopDevice loop(kBytes);
  UniqueFd held(open(loop.path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
  ASSERT_TRUE(held);
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), targetFor(loop)), kLocked);
  held.reset();
  EXPECT_EQ(finalOpenIn(diskNodes("disk7", loop.device()), targetFor(loop)), "opened 512 8388608");
}

TEST_F(FinalOpen, RefusesANodeAnotherProcessHoldsLocked) {
  LoopDevice loop(kBytes);
  const TargetDisk target = targetFor(loop);
  const std::string result =
      runSandboxed(privateDevWith(diskNodes("disk7", loop.device())), [&] {
        int ready[2];
        if (pipe(ready) != 0) return std::string("no pipe");
        const pid_t holder = fork();
        if (holder == 0) {
          const int fd = open("/dev/rdisk7", O_RDONLY);
          if (fd >= 0 && flock(fd, LOCK_EX) == 0) (void)!write(ready[1], "x", 1);
          pause();
          _exit(0);
        }
        char byte;
        const bool locked = read(ready[0], &byte, 1) == 1;
        const std::string outcome = locked ? finalOpen(target) : "holder failed";
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        return outcome;
      });
  EXPECT_EQ(result, kLocked);
}

TEST_F(RegistryID, IsTheDiskSequenceOfTheWholeDiskNode) {
  LoopDevice loop(kBytes);
  const std::vector<SandboxNode> nodes = {
      {"disk7", S_IFBLK, loop.device(), ""},
      {"disk8", S_IFCHR, makedev(1, 3), ""},
      {"disk9", S_IFREG, 0, ""},
      {"disk10", S_IFBLK, makedev(4095, 0), ""},  // no such device attached
      {"disk11", S_IFLNK, 0, "/dev/disk7"},
      {"disk123456", S_IFBLK, loop.device(), ""},
      {"disk7s1", S_IFBLK, loop.device(), ""},
  };
  const std::string result = runSandboxed(privateDevWith(nodes), [] {
    std::string text;
    for (const char* name : {"disk7", "DISK7", "disk8", "disk9", "disk10", "disk11", "disk12",
                             "disk123456", "disk7s1"}) {
      const auto id = DiskInventory::registryID(name);
      text += std::string(name) + "=" + (id ? std::to_string(*id) : "none") + " ";
    }
    return text;
  });
  const std::string seq = std::to_string(loop.diskseq());
  EXPECT_EQ(result, "disk7=" + seq + " DISK7=none disk8=none disk9=none disk10=none disk11=" + seq +
                        " disk12=none disk123456=none disk7s1=none ");
}
