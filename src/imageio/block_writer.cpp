#include "imageio/block_writer.h"

#include <cstring>
#include <stdexcept>

#include "imageio/image_io.h"
#include "records/image_limits.h"
#include "records/imager_error.h"

namespace ImageIO {

BlockWriter::BlockWriter(int destination, std::size_t blockSize, int64_t expected,
                         const Progress& progress)
    : destination_(destination),
      blockSize_(blockSize),
      expected_(expected),
      progress_(progress),
      buffer_(kChunkBytes + blockSize) {}

void BlockWriter::append(std::span<const uint8_t> chunk) {
  if (chunk.size() > kChunkBytes) throw std::invalid_argument("chunk larger than kChunkBytes");
  std::memcpy(buffer_.data() + pending_, chunk.data(), chunk.size());
  pending_ += chunk.size();

  // Fewer than blockSize bytes were pending, so this is at most kChunkBytes.
  const std::size_t full = pending_ / blockSize_ * blockSize_;
  if (full == 0) return;
  if (written_ + static_cast<int64_t>(full) > expected_)
    throw ImagerError::message("Expanded image is larger than expected.");
  writeAll(destination_, buffer_.first(full));
  pending_ -= full;
  std::memmove(buffer_.data(), buffer_.data() + full, pending_);
  written_ += static_cast<int64_t>(full);
  progress_(WriteEvent{"writing", written_, expected_, std::nullopt});
}

void BlockWriter::writeLastBlock() {
  if (pending_ == 0) return;
  std::memset(buffer_.data() + pending_, 0, blockSize_ - pending_);
  writeAll(destination_, buffer_.first(blockSize_));
  pending_ = 0;
}

}  // namespace ImageIO
