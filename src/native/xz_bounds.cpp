#include "native/xz_bounds.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvane::imager {

namespace {

constexpr uint64_t kDictionaryLimit = uint64_t{64} << 20;
// An index this large would describe some hundred thousand blocks; no image made by the
// usual tools comes near it.
constexpr uint64_t kIndexLimit = uint64_t{1} << 20;
constexpr uint8_t kHeaderMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr uint64_t kLzma2 = 0x21;

constexpr const char* kMalformed = "The xz image's structure cannot be read.";

bool ReadAt(int fd, uint64_t offset, void* buffer, std::size_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t got = ::pread(fd, bytes, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

uint32_t Little32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The format's variable-length integer at data[*at], at most nine bytes.
bool Integer(const uint8_t* data, std::size_t size, std::size_t* at, uint64_t* value) {
  *value = 0;
  for (int i = 0; i < 9 && *at < size; ++i) {
    const uint8_t byte = data[(*at)++];
    *value |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) return byte != 0 || i == 0;
  }
  return false;
}

bool HasMagic(int fd, uint64_t offset) {
  uint8_t magic[sizeof kHeaderMagic];
  return ReadAt(fd, offset, magic, sizeof magic) &&
         std::memcmp(magic, kHeaderMagic, sizeof magic) == 0;
}

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

// The filter flags of the block header at `offset`.
bool BlockWithinBounds(int fd, uint64_t offset, std::string* error) {
  uint8_t header[1024];
  if (!ReadAt(fd, offset, header, 1) || header[0] == 0) return Fail(error, kMalformed);
  const std::size_t size = (header[0] + 1u) * 4;
  if (!ReadAt(fd, offset, header, size)) return Fail(error, kMalformed);
  const std::size_t end = size - 4;  // the CRC32 closes the header
  const uint8_t flags = header[1];
  std::size_t at = 2;
  uint64_t ignored = 0;
  if ((flags & 0x40) && !Integer(header, end, &at, &ignored)) return Fail(error, kMalformed);
  if ((flags & 0x80) && !Integer(header, end, &at, &ignored)) return Fail(error, kMalformed);
  for (int filter = 0; filter <= (flags & 0x03); ++filter) {
    uint64_t id = 0, length = 0;
    if (!Integer(header, end, &at, &id) || !Integer(header, end, &at, &length) ||
        length > end - at)
      return Fail(error, kMalformed);
    const bool last = filter == (flags & 0x03);
    if (last != (id == kLzma2) || (!last && (id < 0x03 || id > 0x0B)))
      return Fail(error, "The xz image uses a filter the writer does not take.");
    if (last) {
      const uint8_t bits = length == 1 ? header[at] & 0x3F : 41;
      if (bits > 40) return Fail(error, kMalformed);
      const uint64_t dictionary =
          bits == 40 ? 0xFFFFFFFFu : uint64_t{2u | (bits & 1u)} << (bits / 2 + 11);
      if (dictionary > kDictionaryLimit)
        return Fail(error, "The xz image needs a dictionary larger than 64 MiB.");
    }
    at += length;
  }
  return true;
}

// The end of the stream that ends at `end` once its zero padding is left
// out; `start` is where the image begins.
bool SkipPadding(int fd, uint64_t start, uint64_t* end) {
  uint8_t chunk[4096];
  while (*end - start >= 4) {
    const uint64_t count = std::min<uint64_t>(sizeof chunk, (*end - start) / 4 * 4);
    if (!ReadAt(fd, *end - count, chunk, count)) return false;
    std::size_t zeros = 0;
    while (zeros < count && chunk[count - 1 - zeros] == 0) ++zeros;
    *end -= zeros / 4 * 4;
    if (zeros < count) break;
  }
  return true;
}

// Checks every block of the stream that ends at `end` and sets `*end` to
// where it begins.
bool StreamWithinBounds(int fd, uint64_t start, uint64_t* end, std::string* error) {
  uint8_t footer[12];
  if (*end - start < 24 || !ReadAt(fd, *end - 12, footer, sizeof footer) || footer[10] != 'Y' ||
      footer[11] != 'Z')
    return Fail(error, kMalformed);
  const uint64_t indexSize = (uint64_t{Little32(footer + 4)} + 1) * 4;
  if (indexSize > kIndexLimit || indexSize > *end - start - 24) return Fail(error, kMalformed);
  const uint64_t indexStart = *end - 12 - indexSize;
  std::vector<uint8_t> index(indexSize);
  if (!ReadAt(fd, indexStart, index.data(), index.size()) || index[0] != 0)
    return Fail(error, kMalformed);
  std::size_t at = 1;
  uint64_t records = 0, blocks = 0;
  std::vector<uint64_t> padded;
  if (!Integer(index.data(), index.size(), &at, &records)) return Fail(error, kMalformed);
  for (uint64_t i = 0; i < records; ++i) {
    uint64_t unpadded = 0, expanded = 0;
    if (!Integer(index.data(), index.size(), &at, &unpadded) ||
        !Integer(index.data(), index.size(), &at, &expanded) || unpadded < 5 ||
        unpadded > indexStart - start)
      return Fail(error, kMalformed);
    padded.push_back((unpadded + 3) / 4 * 4);
    blocks += padded.back();
    if (blocks > indexStart - start - 12) return Fail(error, kMalformed);
  }
  const uint64_t streamStart = indexStart - blocks - 12;
  if (!HasMagic(fd, streamStart)) return Fail(error, kMalformed);
  uint64_t block = streamStart + 12;
  for (const uint64_t size : padded) {
    if (!BlockWithinBounds(fd, block, error)) return false;
    block += size;
  }
  *end = streamStart;
  return true;
}

}  // namespace

bool XzWithinBounds(int fd, std::string* error) {
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  struct stat status{};
  if (offset < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size < offset)
    return Fail(error, kMalformed);
  const auto start = static_cast<uint64_t>(offset);
  if (!HasMagic(fd, start)) return true;
  // Streams may follow one another, each with zero padding after it; they
  // are walked from the last.
  uint64_t end = static_cast<uint64_t>(status.st_size);
  while (end > start) {
    if (!SkipPadding(fd, start, &end)) return Fail(error, kMalformed);
    if (end > start && !StreamWithinBounds(fd, start, &end, error)) return false;
  }
  return true;
}

}  // namespace orvane::imager
