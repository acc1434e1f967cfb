#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct archive;

namespace orvane::imager {

// Yields the payload of a raw, gzip, xz or zip image as one plain byte
// stream: the image itself, or the first regular file of a zip archive.
// Anything the zip format does not recognise is delivered byte for byte (after
// gzip or xz decompression when it is compressed that way). What expanding
// may cost is bounded before anything is decoded: zip entries must be stored
// or deflated, and an xz image read from a descriptor must stay within
// XzWithinBounds.
//
// The reader owns its libarchive handle, never the descriptor or file it
// reads. Every operation that fails replaces `*error` (when not null) with one
// message; on success `*error` is left untouched. A handle is used by one
// thread at a time.
class ArchiveImageReader {
 public:
  ArchiveImageReader() = default;
  ~ArchiveImageReader();
  ArchiveImageReader(const ArchiveImageReader&) = delete;
  ArchiveImageReader& operator=(const ArchiveImageReader&) = delete;

  // Open the file at `path` or read `fd` from its current offset, discarding
  // any previous handle, and move to the payload. When `expected` is given
  // and the archive states the payload's size, the two must agree. After a
  // failure the only valid next steps are another open or destruction.
  bool Open(const std::wstring& path, std::optional<uint64_t> expected, std::string* error);
  bool OpenDescriptor(int fd, std::optional<uint64_t> expected, std::string* error);

  // Up to `count` payload bytes into `buffer`: the number delivered (> 0, a
  // short count is not the end), 0 once the payload is exhausted, -1 on
  // failure.
  int64_t Read(void* buffer, std::size_t count, std::string* error);

  // True when nothing but non-regular entries follow the payload. Skips any
  // unread rest of the payload.
  bool Finish(std::string* error);

 private:
  bool EnableImageSupport(std::string* error);
  bool MoveToPayloadEntry(std::optional<uint64_t> expected, std::string* error);
  void Fail(const char* fallback, std::string* error) const;

  struct archive* archive_ = nullptr;
};

}  // namespace orvane::imager
