#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace Platform {

void adviseSequential(int fd) {
  // Turns read-ahead on. Advice only: a refusal changes nothing.
  (void)fcntl(fd, F_RDAHEAD, 1);
}

CheckedOpen openCheckedForReading(const std::string& path,
                                  const std::function<bool(const struct stat&)>& accept,
                                  UniqueFd& fd) {
  // Without a descriptor that opens nothing, the type is judged by name
  // first, and the open cannot wait on what the name may have become.
  struct stat named{};
  if (::lstat(path.c_str(), &named) != 0 || S_ISLNK(named.st_mode)) return CheckedOpen::cannotOpen;
  if (!accept(named)) return CheckedOpen::refused;
  // No link anywhere on the path, so a directory swapped for a link into
  // /dev meanwhile cannot lead the open to a device node; what was opened is
  // then checked on the descriptor itself.
  int handle;
  do {
    handle = ::open(path.c_str(),
                    O_RDONLY | O_NOFOLLOW_ANY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (handle < 0 && errno == EINTR);
  UniqueFd opened(handle);
  struct stat status{};
  if (!opened) return CheckedOpen::cannotOpen;
  if (::fstat(opened.get(), &status) != 0 || status.st_dev != named.st_dev ||
      status.st_ino != named.st_ino || !S_ISREG(status.st_mode))
    return CheckedOpen::refused;
  const int flags = ::fcntl(opened.get(), F_GETFL);
  if (flags < 0 || ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return CheckedOpen::cannotOpen;
  fd = std::move(opened);
  return CheckedOpen::opened;
}

}  // namespace Platform

namespace Platform {

bool ownershipIgnored(int fd) {
  struct statfs volume{};
  return ::fstatfs(fd, &volume) == 0 && (volume.f_flags & MNT_IGNORE_OWNERSHIP) != 0;
}

}  // namespace Platform
