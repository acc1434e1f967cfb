// The archive image reader on hostile image files: the bytes as a file (an
// in-memory one), read through the flat interface to the end of the payload
// and the archive's end, with the expanded output capped.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "native/ori.h"
#include "support/unique_fd.h"

namespace {

// Far beyond any seed, so a small bomb is still read to its end; larger
// outputs only cost time.
constexpr int64_t kOutputCap = int64_t{64} << 20;
constexpr std::size_t kReadBytes = std::size_t{1} << 20;

void require(bool condition) {
  if (!condition) std::abort();
}

// A message is always written, terminated and not empty.
void requireMessage(const char* error) { require(error[0] != '\0' && std::strlen(error) < 256); }

UniqueFd fileHolding(const uint8_t* data, std::size_t size) {
  UniqueFd fd(memfd_create("image", MFD_CLOEXEC));
  require(fd.get() >= 0);
  for (std::size_t written = 0; written < size;) {
    const ssize_t n = write(fd.get(), data + written, size - written);
    require(n > 0);
    written += static_cast<std::size_t>(n);
  }
  require(lseek(fd.get(), 0, SEEK_SET) == 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static std::vector<char> buffer(kReadBytes);
  const UniqueFd fd = fileHolding(data, size);
  char error[256];
  std::memset(error, 0, sizeof error);
  void* reader = ori_archive_open(fd.get(), error, sizeof error);
  if (reader == nullptr) {
    requireMessage(error);
    return 0;
  }
  int64_t total = 0;
  int64_t got = 0;
  do {
    got = ori_archive_read(reader, buffer.data(), buffer.size(), error, sizeof error);
    require(got >= -1 && got <= static_cast<int64_t>(buffer.size()));
    if (got > 0) total += got;
  } while (got > 0 && total < kOutputCap);
  if (got < 0) requireMessage(error);
  if (got == 0) {
    error[0] = '\0';
    if (ori_archive_finish(reader, error, sizeof error) != 1) requireMessage(error);
  }
  ori_archive_close(reader);
  // The reader never closes the descriptor it was given.
  require(fcntl(fd.get(), F_GETFD) >= 0);
  return 0;
}
