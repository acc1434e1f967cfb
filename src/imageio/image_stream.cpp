#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>

#include "imageio/aligned_buffer.h"
#include "imageio/image_io.h"
#include "imageio/hash_worker.h"
#include "imageio/sha256.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "support/unicode_text.h"

namespace ImageIO {

namespace {

// The reader's messages arrive here; it always leaves a NUL inside.
class MessageBuffer {
 public:
  char* data() { return text_.data(); }
  std::size_t size() const { return text_.size(); }
  ImagerError error() const {
    return ImagerError::message(toValidUtf8({text_.data(), ::strnlen(text_.data(), text_.size())}));
  }

 private:
  std::array<char, 1024> text_{};
};

struct CloseReader {
  void operator()(void* handle) const { ori_archive_close(handle); }
};
using ReaderHandle = std::unique_ptr<void, CloseReader>;

}  // namespace

StreamResult stream(const SourceFile& source, const Cancellation& cancel, const Consumer& consume,
                    int64_t limit) {
  const int fd = source.fd();
  if (::lseek(fd, 0, SEEK_SET) != 0) throw ImagerError::message("Cannot seek the image.");
  Platform::adviseSequential(fd);

  MessageBuffer message;
  const ReaderHandle reader(ori_archive_open(fd, message.data(), message.size()));
  if (!reader) throw message.error();

  // Two buffers in turn: the reader fills one while the other is hashed.
  AlignedBuffer buffers[2] = {AlignedBuffer(kChunkBytes), AlignedBuffer(kChunkBytes)};
  HashWorker hash;
  int64_t total = 0;
  cancel.check();
  for (std::size_t turn = 0;; turn ^= 1) {
    AlignedBuffer& buffer = buffers[turn];
    const int64_t count = ori_archive_read(reader.get(), buffer.data(), buffer.size(),
                                           message.data(), message.size());
    if (count < 0) throw message.error();
    if (count == 0) break;
    total += count;
    if (total > limit)
      throw ImagerError::message("Expanded image exceeds the supported size.");
    // The chunk is handed over in place; a consumer that keeps bytes copies
    // them (the block writer's pending bytes are that one copy).
    const auto chunk = buffer.first(static_cast<std::size_t>(count));
    hash.add(chunk);
    consume(chunk);
    cancel.check();
  }
  if (ori_archive_finish(reader.get(), message.data(), message.size()) != 1) throw message.error();
  if (total < 1 || total % 512 != 0)
    throw ImagerError::message("The image is empty or is not a sector-aligned disk image.");
  return {total, hex(hash.finish())};
}

}  // namespace ImageIO
