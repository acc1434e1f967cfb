#include <sys/disk.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/platform.h"

namespace Platform {

// fsync on a raw disk returns without touching the drive; this request makes
// the drive write out its own cache. An all-zero range means the whole medium.
bool flushDevice(int fd) {
  dk_synchronize_t whole{};
  int result;
  do result = ioctl(fd, DKIOCSYNCHRONIZE, &whole);
  while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace Platform
