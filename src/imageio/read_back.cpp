#include "imageio/read_back.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "imageio/aligned_buffer.h"
#include "imageio/hash_worker.h"
#include "imageio/sha256.h"
#include "records/image_limits.h"
#include "records/imager_error.h"

namespace ImageIO {

namespace {

bool allZero(const uint8_t* bytes, std::size_t count) {
  return count == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0);
}

}  // namespace

std::string readBack(int destination, int64_t expected, std::size_t blockSize,
                     const Cancellation& cancel, const Progress& progress) {
  // Two buffers in turn: the next read fills one while the other is hashed.
  AlignedBuffer buffers[2] = {AlignedBuffer(kChunkBytes), AlignedBuffer(kChunkBytes)};
  HashWorker hash;
  int64_t verified = 0;
  for (std::size_t turn = 0; verified < expected; turn ^= 1) {
    cancel.check();
    AlignedBuffer& buffer = buffers[turn];
    const auto remaining = static_cast<uint64_t>(expected - verified);
    const std::size_t request = static_cast<std::size_t>(
        std::min<uint64_t>((remaining + blockSize - 1) / blockSize * blockSize, kChunkBytes));
    // No retry: whatever the device returns short of the request fails it.
    if (::read(destination, buffer.data(), request) != static_cast<ssize_t>(request))
      throw ImagerError::message("USB read-back failed.");
    const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(remaining, request));
    if (!allZero(buffer.data() + take, request - take))
      throw ImagerError::message("USB padding verification failed.");
    hash.add(buffer.first(take));
    verified += static_cast<int64_t>(take);
    progress(WriteEvent{"verifying", verified, expected, std::nullopt});
  }
  return hex(hash.finish());
}

}  // namespace ImageIO
