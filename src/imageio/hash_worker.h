#pragma once

#include <cstdint>
#include <span>

#include "imageio/sha256.h"
#include "imageio/worker.h"

namespace ImageIO {

// A SHA-256 fed in order on a thread of its own: add() returns as soon as the
// hashing of its bytes has started, so that the pass can read the next chunk
// meanwhile. Hash errors surface from the next add() or finish().
class HashWorker {
 public:
  // Waits for the bytes added before, then starts on `bytes`, which must
  // stay unchanged until the next add() or finish() has returned.
  void add(std::span<const uint8_t> bytes);

  // Waits for the last bytes and ends the hash; the object is not used
  // afterwards.
  Sha256Digest finish();

 private:
  Sha256 hash_;
  Worker worker_;  // after hash_, so that it stops first
};

}  // namespace ImageIO
