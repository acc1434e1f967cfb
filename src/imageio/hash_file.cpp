#include <unistd.h>

#include "imageio/aligned_buffer.h"
#include "imageio/image_io.h"
#include "imageio/hash_worker.h"
#include "imageio/sha256.h"
#include "platform/platform.h"
#include "records/imager_error.h"

namespace ImageIO {

std::string hashFile(const SourceFile& source, const Cancellation& cancel,
                     const HashProgress& progress, int64_t limit) {
  const int fd = source.fd();
  if (::lseek(fd, 0, SEEK_SET) != 0) throw ImagerError::message("Cannot seek the image.");
  Platform::adviseSequential(fd);

  // Two buffers in turn: the next read fills one while the other is hashed.
  AlignedBuffer buffers[2] = {AlignedBuffer(kChunkBytes), AlignedBuffer(kChunkBytes)};
  HashWorker hash;
  int64_t total = 0;
  for (std::size_t turn = 0;; turn ^= 1) {
    cancel.check();
    AlignedBuffer& buffer = buffers[turn];
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count == 0) break;
    if (count < 0) throw ImagerError::message("Cannot read the image file.");
    total += count;
    if (total > limit) throw ImagerError::message("Image exceeds the supported size.");
    hash.add(buffer.first(static_cast<std::size_t>(count)));
    progress(total);
  }
  // A file that grew or shrank since it was opened is refused even when its
  // new content hashes cleanly.
  if (total < 1 || total != source.size()) throw ImagerError::message("Image changed or is empty.");
  return hex(hash.finish());
}

}  // namespace ImageIO
