#include <unistd.h>

#include <cerrno>

#include "imageio/image_io.h"
#include "records/imager_error.h"

namespace ImageIO {

void writeAll(int fd, std::span<const uint8_t> bytes) {
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + offset, bytes.size() - offset);
    if (written < 0 && errno == EINTR) continue;
    // A device that takes nothing would otherwise be asked forever.
    if (written <= 0)
      throw ImagerError::message("Writing failed. Check the connection and free space.");
    offset += static_cast<std::size_t>(written);
  }
}

}  // namespace ImageIO
