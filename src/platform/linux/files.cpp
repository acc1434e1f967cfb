#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace Platform {

void adviseSequential(int fd) {
  // Doubles the read-ahead window. Advice only: a refusal changes nothing.
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

CheckedOpen openCheckedForReading(const std::string& path,
                                  const std::function<bool(const struct stat&)>& accept,
                                  UniqueFd& fd) {
  // A descriptor that names the file without opening it: a device or FIFO
  // looked at this way feels nothing. No link is followed anywhere on the
  // path, so a directory swapped for a link cannot lead elsewhere.
  open_how how{};
  how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  int handle;
  do {
    handle = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
  } while (handle < 0 && errno == EINTR);
  const UniqueFd node(handle);
  struct stat named{};
  if (!node || ::fstat(node.get(), &named) != 0 || S_ISLNK(named.st_mode))
    return CheckedOpen::cannotOpen;
  if (!accept(named)) return CheckedOpen::refused;
  // Reopening through the descriptor reaches the checked file, whatever the
  // path names by now.
  const std::string alias = "/proc/self/fd/" + std::to_string(node.get());
  do {
    handle = ::open(alias.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  } while (handle < 0 && errno == EINTR);
  UniqueFd opened(handle);
  struct stat status{};
  if (!opened) return CheckedOpen::cannotOpen;
  if (::fstat(opened.get(), &status) != 0 || status.st_dev != named.st_dev ||
      status.st_ino != named.st_ino)
    return CheckedOpen::refused;
  fd = std::move(opened);
  return CheckedOpen::opened;
}

}  // namespace Platform

namespace Platform {

// Linux shows a FAT volume's files as owned by whoever its mount names.
bool ownershipIgnored(int) { return false; }

}  // namespace Platform
