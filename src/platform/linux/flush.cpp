#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace Platform {

// On a block device fsync writes the page cache out and then asks the drive
// to empty its own cache.
bool flushDevice(int fd) {
  int result;
  do result = fsync(fd);
  while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace Platform
