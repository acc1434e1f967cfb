#include "imageio/hash_worker.h"

namespace ImageIO {

void HashWorker::add(std::span<const uint8_t> bytes) {
  worker_.wait();
  worker_.start([this, bytes] { hash_.update(bytes.data(), bytes.size()); });
}

Sha256Digest HashWorker::finish() {
  worker_.wait();
  return hash_.finish();
}

}  // namespace ImageIO
