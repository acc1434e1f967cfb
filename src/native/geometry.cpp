#include "native/ori.h"
#include "platform/platform.h"

extern "C" int ori_geometry(int fd, uint32_t* block_size, uint64_t* capacity) {
  if (!Platform::readBlockSize(fd, block_size)) return 0;
  uint64_t count = 0;
  if (*block_size == 0 || !Platform::readBlockCount(fd, *block_size, &count)) return 0;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(*block_size), count, &bytes)) return 0;
  *capacity = bytes;
  return 1;
}
