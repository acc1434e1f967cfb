#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imageio/aligned_buffer.h"
#include "records/write_event.h"

namespace ImageIO {

// The consumer of the write pass: turns chunks of the expanded image into
// whole-block writes at block-aligned offsets of `destination`, keeping the
// tail that does not fill a block pending until the next chunk. Every write
// comes from a buffer aligned for direct I/O. `destination` and `progress`
// must outlive the writer, which never closes the descriptor.
class BlockWriter {
 public:
  BlockWriter(int destination, std::size_t blockSize, int64_t expected, const Progress& progress);

  // Takes one chunk of at most kChunkBytes, writes every whole block now
  // available and sends "writing" with the bytes written so far. Throws
  // "Expanded image is larger than expected." before writing past
  // `expected`, and writeAll's error.
  void append(std::span<const uint8_t> chunk);

  // Writes the pending tail, if any, as one block padded with zeros. Sends no
  // event; the padding is not counted as written.
  void writeLastBlock();

  int64_t written() const { return written_; }

 private:
  int destination_;
  std::size_t blockSize_;
  int64_t expected_;
  const Progress& progress_;
  AlignedBuffer buffer_;  // pending bytes at the front
  std::size_t pending_ = 0;
  int64_t written_ = 0;
};

}  // namespace ImageIO
