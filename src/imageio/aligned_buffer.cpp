#include "imageio/aligned_buffer.h"

#include <cstring>
#include <new>

AlignedBuffer::AlignedBuffer(std::size_t size)
    : bytes_(static_cast<uint8_t*>(::operator new[](size, std::align_val_t{kAlignment}))),
      size_(size) {
  std::memset(bytes_.get(), 0, size_);
}

void AlignedBuffer::Release::operator()(uint8_t* bytes) const {
  ::operator delete[](bytes, std::align_val_t{kAlignment});
}
