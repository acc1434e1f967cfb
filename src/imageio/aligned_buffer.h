#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// A zero-filled heap buffer whose start is aligned for direct (uncached)
// device I/O. Its size is fixed at construction.
class AlignedBuffer {
 public:
  // Covers the block size of every device the writer accepts.
  static constexpr std::size_t kAlignment = 4096;

  explicit AlignedBuffer(std::size_t size);

  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  std::span<const uint8_t> first(std::size_t count) const { return {bytes_.get(), count}; }

 private:
  struct Release {
    void operator()(uint8_t* bytes) const;
  };
  std::unique_ptr<uint8_t[], Release> bytes_;
  std::size_t size_;
};
