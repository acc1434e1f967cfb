#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Platform {
class Sha256Hasher;
}

using Sha256Digest = std::array<uint8_t, 32>;

// Incremental SHA-256 (hardware accelerated where the processor offers it).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* bytes, std::size_t length);
  // Ends the hash; the object is not used afterwards.
  Sha256Digest finish();

 private:
  std::unique_ptr<Platform::Sha256Hasher> hasher_;
};

// The digest as 64 lowercase hexadecimal characters, two per byte.
std::string hex(const Sha256Digest& digest);
