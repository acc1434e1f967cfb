#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/unique_fd.h"

// The image file, opened without following a final symbolic link and proven
// to be a regular file with one link, owned by `owner`, and not locked by
// anyone else. It holds a shared lock (exclusive when writable) until it is
// destroyed, which closes the descriptor. Every later read goes through fd().
class SourceFile {
 public:
  // Throws ImagerError "Cannot open the image file." or "The image must be an
  // unlocked regular file owned by this user.".
  SourceFile(const std::string& path, std::optional<uint32_t> owner, bool writable);

  int fd() const { return fd_.get(); }
  // Size at open time; later passes compare what they read against it.
  int64_t size() const { return size_; }

 private:
  UniqueFd fd_;
  int64_t size_ = 0;
};
