#include "image_check.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "plain_text.h"
#include "records/image_limits.h"
#include "refusal.h"
#include "sizes.h"
#include "support/unique_fd.h"

namespace {

// Packings the writer does not decode, by their first bytes.
struct Foreign {
  std::string_view magic;
  const char* what;    // completes "IMAGE is ..."
  const char* advice;  // completes "run `...` on it first"
};
constexpr Foreign kForeign[] = {
    {"\x28\xB5\x2F\xFD", "compressed with zstd", "zstd -d"},
    {"BZh", "compressed with bzip2", "bunzip2"},
    {"\x04\x22\x4D\x18", "compressed with lz4", "lz4 -d"},
    {"\x02\x21\x4C\x18", "compressed with lz4", "lz4 -d"},
    {"7z\xBC\xAF\x27\x1C", "a 7z archive", "7z x"},
    {"Rar!\x1A\x07", "a rar archive", "unrar x"},
    {"LZIP", "compressed with lzip", "lzip -d"},
    {"\x1F\x9D", "compressed with compress", "uncompress"},
};

// An lzma-alone header has no magic: a properties byte (0x5D nearly always),
// a dictionary of 2^n or 3 * 2^(n-1) bytes, and a size that is unknown
// (all ones) or plausible.
bool lzmaAlone(std::string_view head) {
  if (head.size() < 13 || static_cast<unsigned char>(head[0]) != 0x5D) return false;
  uint32_t dictionary = 0;
  for (int i = 4; i >= 1; --i) dictionary = dictionary << 8 | static_cast<unsigned char>(head[i]);
  const bool round = dictionary >= 4096 &&
                     ((dictionary & (dictionary - 1)) == 0 ||
                      (dictionary % 3 == 0 && ((dictionary / 3) & (dictionary / 3 - 1)) == 0));
  uint64_t size = 0;
  for (int i = 12; i >= 5; --i) size = size << 8 | static_cast<unsigned char>(head[i]);
  return round && (size == ~uint64_t{0} || size < (uint64_t{1} << 40));
}

constexpr std::string_view kXzMagic("\xFD" "7zXZ\0", 6);

std::string packingOf(std::string_view head) {
  if (head.starts_with("\x1F\x8B")) return "gzip";
  if (head.starts_with(kXzMagic)) return "xz";
  if (head.starts_with("PK\x03\x04") || head.starts_with("PK\x05\x06")) return "zip";
  return "";
}

// What the file's name says it is, or "".
std::string packingOfName(const std::string& path) {
  for (const auto& [suffix, packing] : {std::pair{".gz", "gzip"}, {".xz", "xz"}, {".zip", "zip"}})
    if (path.ends_with(suffix)) return packing;
  return "";
}

[[noreturn]] void refuse(const std::string& typed, const std::string& rest,
                         const std::string& detail = "") {
  throw Refusal(ExitCode::badImage, plainText(typed) + " " + rest, detail);
}

std::string resolve(const std::string& typed) {
  char resolved[PATH_MAX];
  if (!realpath(typed.c_str(), resolved))
    refuse(typed, errno == ENOENT || errno == ENOTDIR
                      ? "does not exist: check its name and folder."
                      : "cannot be reached: " + std::string(std::strerror(errno)) + ".");
  return resolved;
}

void checkEntry(const std::string& typed, const struct stat& status, uid_t owner) {
  const std::string copy = "copy it first (`cp " + plainText(typed) + " COPY`) and write the copy.";
  if (S_ISDIR(status.st_mode)) refuse(typed, "is a folder: name the image file inside it.");
  if (!S_ISREG(status.st_mode))
    refuse(typed,
           "is a special file (a device, a pipe or a socket), not an image: name an image file.");
  if (status.st_uid != owner)
    refuse(typed, "belongs to another user, which the writer does not accept: " + copy);
  if (status.st_nlink != 1)
    refuse(typed, "has other hard links, which the writer does not accept: " + copy);
  if (status.st_size == 0) refuse(typed, "is empty: download it again.");
  if (status.st_size > kMaximumImageBytes)
    refuse(typed, "is " + sizeText(status.st_size) + ", more than the 128 GiB the writer accepts.");
}

std::string firstBytes(const std::string& typed, const std::string& path) {
  // The entry was seen to be a regular file; O_NONBLOCK keeps a swap for a
  // FIFO from hanging, and the type is checked again on the descriptor.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) refuse(typed, "cannot be read: " + std::string(std::strerror(errno)) + ".");
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))
    refuse(typed, "changed while it was being checked: write again.");
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0)
    refuse(typed, "is locked by another program: close it, then write again.");
  char head[64];
  ssize_t n;
  do n = ::pread(fd.get(), head, sizeof head, 0);
  while (n < 0 && errno == EINTR);
  if (n < 0) refuse(typed, "cannot be read: " + std::string(std::strerror(errno)) + ".");
  return std::string(head, static_cast<size_t>(n));
}

void checkPacking(const std::string& typed, const ImageFacts& facts, std::string_view head) {
  for (const Foreign& foreign : kForeign)
    if (head.starts_with(foreign.magic))
      refuse(typed, std::string("is ") + foreign.what + ", which this tool does not decode: run `" +
                        foreign.advice + "` on it first.");
  if (lzmaAlone(head))
    refuse(typed,
           "is compressed with lzma, which this tool does not decode: run `unlzma` on it first.");
  const std::string named = packingOfName(facts.path);
  if (!named.empty() && facts.packing != named)
    refuse(typed, "is named like a " + named +
                      " file but is not one: it is damaged or incomplete; download it again.");
  if (facts.packing.empty() && facts.bytes % 512 != 0)
    refuse(typed, "is " + exactCount(facts.bytes) +
                      " bytes, not a whole number of 512-byte sectors: it is not a disk image, or "
                      "it is incomplete.");
}

}  // namespace

ImageFacts checkImage(const std::string& typed, uid_t owner) {
  ImageFacts facts;
  facts.path = resolve(typed);
  struct stat status {};
  if (::stat(facts.path.c_str(), &status) != 0)
    refuse(typed, "cannot be reached: " + std::string(std::strerror(errno)) + ".");
  checkEntry(typed, status, owner);
  facts.bytes = status.st_size;
  const std::string head = firstBytes(typed, facts.path);
  facts.packing = packingOf(head);
  checkPacking(typed, facts, head);
  return facts;
}

void refuseDamaged(const std::string& typed, const std::string& packing,
                   const std::string& decoderMessage) {
  const std::string what = packing.empty() ? "image" : packing + " file";
  refuse(typed, "is a damaged or incomplete " + what + ": download it again.", decoderMessage);
}
