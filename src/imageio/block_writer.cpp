#include "imageio/block_writer.h"

#include <cstring>
#include <stdexcept>

#include "imageio/image_io.h"
#include "records/image_limits.h"
#include "records/imager_error.h"

namespace ImageIO {

BlockWriter::BlockWriter(int destination, std::size_t blockSize, int64_t expected,
                         const Cancellation& cancel, const Progress& progress)
    : destination_(destination),
      blockSize_(blockSize),
      expected_(expected),
      cancel_(cancel),
      progress_(progress),
      blocks_{AlignedBuffer(kChunkBytes + blockSize), AlignedBuffer(kChunkBytes + blockSize)},
      tail_(blockSize) {}

void BlockWriter::append(std::span<const uint8_t> chunk) {
  if (chunk.size() > kChunkBytes) throw std::invalid_argument("chunk larger than kChunkBytes");
  const std::size_t length = pending_ + chunk.size();
  if (length < blockSize_) {
    std::memcpy(tail_.data() + pending_, chunk.data(), chunk.size());
    pending_ = length;
    return;
  }
  // The running write uses the other buffer, so gathering overlaps it.
  AlignedBuffer& gathered = blocks_[next_];
  std::memcpy(gathered.data(), tail_.data(), pending_);
  std::memcpy(gathered.data() + pending_, chunk.data(), chunk.size());
  // Fewer than blockSize bytes were pending, so this is at most kChunkBytes.
  const std::size_t full = length / blockSize_ * blockSize_;
  settle();
  if (written_ + static_cast<int64_t>(full) > expected_)
    throw ImagerError::message("Expanded image is larger than expected.");
  pending_ = length - full;
  std::memcpy(tail_.data(), gathered.data() + full, pending_);
  const int fd = destination_;
  const std::span<const uint8_t> blocks = gathered.first(full);
  worker_.start([fd, blocks] { writeAll(fd, blocks); });
  running_ = full;
  next_ ^= 1;
}

void BlockWriter::settle() {
  if (running_ == 0) return;
  const std::size_t done = running_;
  running_ = 0;
  worker_.wait();
  written_ += static_cast<int64_t>(done);
  progress_(WriteEvent{"writing", written_, expected_, std::nullopt});
  cancel_.check();
}

void BlockWriter::writeLastBlock() {
  if (running_ != 0) throw std::logic_error("the last block before the pass was settled");
  if (pending_ == 0) return;
  std::memset(tail_.data() + pending_, 0, blockSize_ - pending_);
  writeAll(destination_, tail_.first(blockSize_));
  pending_ = 0;
}

}  // namespace ImageIO
