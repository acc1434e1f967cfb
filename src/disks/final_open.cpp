#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "disks/disk_inventory.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "support/patterns.h"

namespace {

// The open descriptor is the node at `path` and the whole disk's own device,
// and that is the disk the user confirmed: same capacity, same registry entry.
bool provesIdentity(int fd, const std::string& path, const TargetDisk& target) {
  struct stat opened{}, named{};
  if (fstat(fd, &opened) != 0 || lstat(path.c_str(), &named) != 0) return false;
  if (!Platform::isRawDevice(opened.st_mode) || opened.st_rdev != named.st_rdev) return false;
  uint32_t blockSize = 0;
  uint64_t capacity = 0;
  if (ori_geometry(fd, &blockSize, &capacity) != 1 || capacity != target.capacity) return false;
  if (!isShortWholeDiskName(target.bsd)) return false;
  // The number comes from the open descriptor, which must be the device the
  // whole-disk node names: two names leading to two disks of one size would
  // otherwise pass.
  return Platform::openedDiskEntryID(fd, target.bsd) == target.registryID;
}

}  // namespace

namespace DiskInventory {

UniqueFd openFinal(const TargetDisk& target) {
  const std::optional<std::string> path = Platform::rawDevicePath(target.bsd);
  UniqueFd fd(path ? Platform::openRawDevice(*path) : -1);
  // One sentence for a held lock, a busy disk, a write-protected card and a
  // vanished disk; errno tells them apart.
  if (!fd)
    throw ImagerError::message(
        "Cannot lock the drive. Close apps using it, reconnect it and retry.",
        std::error_code(path ? errno : ENOENT, std::generic_category()));
  if (!provesIdentity(fd.get(), *path, target))
    throw ImagerError::message("Final device identity or capacity changed.");
  Platform::prepareForTransfer(fd.get());
  return fd;
}

}  // namespace DiskInventory
