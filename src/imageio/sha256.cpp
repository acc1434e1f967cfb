#include "imageio/sha256.h"

#include "platform/platform.h"

Sha256::Sha256() : hasher_(Platform::startSha256()) {}

Sha256::~Sha256() = default;

void Sha256::update(const void* bytes, std::size_t length) { hasher_->update(bytes, length); }

Sha256Digest Sha256::finish() { return hasher_->finish(); }

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
