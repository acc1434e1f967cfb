// SHA-256 on Linux, from OpenSSL's libcrypto (hardware accelerated where the
// processor offers it).

#include <openssl/evp.h>

#include <stdexcept>

#include "platform/platform.h"

namespace Platform {

namespace {

// Allocation or set-up failure of the hash is not a condition the program can
// report usefully; it surfaces as an exception like any platform error.
[[noreturn]] void unavailable() { throw std::runtime_error("SHA-256 is unavailable."); }

class EvpSha256 final : public Sha256Hasher {
 public:
  EvpSha256() {
    if (!md_ || EVP_DigestInit_ex(md_, EVP_sha256(), nullptr) != 1) {
      EVP_MD_CTX_free(md_);
      unavailable();
    }
  }
  ~EvpSha256() override { EVP_MD_CTX_free(md_); }
  EvpSha256(const EvpSha256&) = delete;
  EvpSha256& operator=(const EvpSha256&) = delete;

  void update(const void* bytes, std::size_t length) override {
    if (EVP_DigestUpdate(md_, bytes, length) != 1) unavailable();
  }

  std::array<uint8_t, 32> finish() override {
    std::array<uint8_t, 32> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(md_, digest.data(), &length) != 1 || length != digest.size())
      unavailable();
    return digest;
  }

 private:
  EVP_MD_CTX* md_ = EVP_MD_CTX_new();
};

}  // namespace

std::unique_ptr<Sha256Hasher> startSha256() { return std::make_unique<EvpSha256>(); }

}  // namespace Platform
