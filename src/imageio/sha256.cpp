#include "imageio/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

struct Sha256::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(md); }
};

// Allocation or set-up failure of the hash is not a condition the program can
// report usefully; it surfaces as an exception like any platform error.
Sha256::Sha256() : context_(std::make_unique<Context>()) {
  if (!context_->md || EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is unavailable.");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* bytes, std::size_t length) {
  if (EVP_DigestUpdate(context_->md, bytes, length) != 1)
    throw std::runtime_error("SHA-256 is unavailable.");
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->md, digest.data(), &length) != 1 || length != digest.size())
    throw std::runtime_error("SHA-256 is unavailable.");
  return digest;
}

std::string hex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}
