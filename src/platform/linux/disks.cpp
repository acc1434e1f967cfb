#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/linux/mountinfo.h"
#include "platform/linux/sysfs.h"
#include "platform/platform.h"
#include "support/system_error.h"

namespace Platform {

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

std::string resolvedPath(const std::string& path) {
  std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
  if (!resolved) throwSystemError();
  return resolved.get();
}

std::string readMountInfo() {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) throwSystemError();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::optional<std::string> volumeOf(const std::string& path) {
  const std::string resolved = resolvedPath(path);
  // The mount is found by the file's own mount id, or failing that its
  // device: the longest mount point above the path can belong to a mount
  // that a later one has hidden.
  struct statx status{};
  if (statx(AT_FDCWD, resolved.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &status) != 0)
    throwSystemError();
  std::optional<uint64_t> mountID;
  if (status.stx_mask & STATX_MNT_ID) mountID = status.stx_mnt_id;
  const std::string device =
      std::to_string(status.stx_dev_major) + ":" + std::to_string(status.stx_dev_minor);
  return mountPointHolding(readMountInfo(), resolved, mountID, device);
}

std::optional<std::string> volumeOfOpenFile(int fd) {
  struct statx status{};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &status) != 0) throwSystemError();
  if (!(status.stx_mask & STATX_MNT_ID)) throwSystemError(ENOTSUP);
  return mountPointHolding(readMountInfo(), "", status.stx_mnt_id, "");
}

// Whole disks are named by the kernel's disk sequence number, which it gives
// every disk it attaches and every medium change and never reuses while the
// system runs: a drive plugged in again comes back under another name.
namespace {

std::optional<Sysfs::WholeDisk> attachedDisk(const std::string& bsd) {
  const auto sequence = Sysfs::sequenceOfName(bsd);
  if (!sequence) return std::nullopt;
  return Sysfs::wholeDiskBySequence("/sys", *sequence);
}

}  // namespace

const char* diskUtility() { return WRITER_DISK_UTILITY; }

std::vector<std::string> protectedSystemPaths() {
  std::vector<std::string> paths{"/"};
  for (const char* path : {"/System/Volumes/Data", "/boot", "/boot/efi", "/usr", "/var", "/home"}) {
    struct stat status{};
    if (stat(path, &status) == 0) paths.emplace_back(path);
  }
  return paths;
}

std::optional<std::string> rawDevicePath(const std::string& bsd) {
  const auto disk = attachedDisk(bsd);
  if (!disk) return std::nullopt;
  return Sysfs::nodeOf(disk->kernelName);
}

std::optional<uint64_t> registryEntryID(const std::string& bsd) {
  const auto disk = attachedDisk(bsd);
  if (!disk) return std::nullopt;
  return disk->sequence;
}

std::optional<uint64_t> openedDiskEntryID(int fd, const std::string& bsd) {
  const auto disk = attachedDisk(bsd);
  struct stat opened{};
  if (!disk || fstat(fd, &opened) != 0 || !S_ISBLK(opened.st_mode) ||
      opened.st_rdev != disk->device)
    return std::nullopt;
  // Asked of the descriptor itself, the number belongs to the disk that is
  // open, whatever the names lead to by now.
  uint64_t sequence = 0;
  if (ioctl(fd, BLKGETDISKSEQ, &sequence) != 0 || sequence != disk->sequence) return std::nullopt;
  return sequence;
}

int openRawDevice(const std::string& path) {
  int fd;
  // O_EXCL on a block device refuses one that is mounted or held exclusively.
  do {
    fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  UniqueFd owned(fd);
  // The lock others take with flock, held as long as the descriptor is open.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return -1;
  return owned.release();
}

bool isRawDevice(mode_t mode) { return S_ISBLK(mode); }

bool readBlockSize(int fd, uint32_t* blockSize) {
  int size = 0;
  if (ioctl(fd, BLKSSZGET, &size) != 0 || size < 0) return false;
  *blockSize = static_cast<uint32_t>(size);
  return true;
}

bool readBlockCount(int fd, uint32_t blockSize, uint64_t* blockCount) {
  uint64_t bytes = 0;
  if (blockSize == 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0) return false;
  *blockCount = bytes / blockSize;
  return true;
}

void prepareForTransfer(int fd) {
  // Replacing the status flags clears O_NONBLOCK; O_DIRECT keeps the page
  // cache out, so the read-back reads the drive and writes cannot run far
  // ahead of it.
  if (fcntl(fd, F_SETFL, O_DIRECT) != 0) throwSystemError();
}

void afterVerifiedWrite(int fd) {
  // Asked on the descriptor that holds the disk exclusively; a device without
  // partitions (a loop device attached without them) refuses, which is fine.
  (void)ioctl(fd, BLKRRPART);
}

}  // namespace Platform
