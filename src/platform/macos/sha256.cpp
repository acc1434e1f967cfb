// SHA-256 on macOS, from CommonCrypto in the system library.

#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace Platform {

namespace {

static_assert(CC_SHA256_DIGEST_LENGTH == 32);

class CommonCryptoSha256 final : public Sha256Hasher {
 public:
  CommonCryptoSha256() { CC_SHA256_Init(&context_); }

  void update(const void* bytes, std::size_t length) override {
    // The length argument is 32 bits wide.
    const auto* at = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
      const auto piece = static_cast<CC_LONG>(std::min<std::size_t>(length, 1u << 30));
      CC_SHA256_Update(&context_, at, piece);
      at += piece;
      length -= piece;
    }
  }

  std::array<uint8_t, 32> finish() override {
    std::array<uint8_t, 32> digest{};
    CC_SHA256_Final(digest.data(), &context_);
    return digest;
  }

 private:
  CC_SHA256_CTX context_{};
};

}  // namespace

std::unique_ptr<Sha256Hasher> startSha256() { return std::make_unique<CommonCryptoSha256>(); }

}  // namespace Platform
