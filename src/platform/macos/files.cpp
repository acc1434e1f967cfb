#include <fcntl.h>

#include "platform/platform.h"

namespace Platform {

void adviseSequential(int fd) {
  // Turns read-ahead on. Advice only: a refusal changes nothing.
  (void)fcntl(fd, F_RDAHEAD, 1);
}

}  // namespace Platform
