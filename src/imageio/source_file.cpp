#include "imageio/source_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "imageio/image_owner.h"
#include "platform/platform.h"
#include "records/imager_error.h"

namespace {

constexpr const char* kNotPlainFile =
    "The image must be an unlocked regular file owned by this user.";

bool isPlainOwnStatus(const struct stat& status, std::optional<uint32_t> owner,
                      bool ownershipIgnored) {
  return (status.st_mode & S_IFMT) == S_IFREG &&
         (!owner || countsAsOwnFile(status.st_uid, *owner, ownershipIgnored)) &&
         status.st_nlink == 1;
}

// The file is opened only once it is known to be a regular file: opening a
// device has effects of its own, and opening a FIFO wakes whoever waits to
// write into it.
UniqueFd openForReading(const std::string& path, std::optional<uint32_t> owner) {
  UniqueFd fd;
  // Whether the volume ignores ownership is known only once the file is open:
  // until then a file of the unknown user passes, and the check on the open
  // file decides. Opening a regular file has no effect of its own.
  const auto accept = [owner](const struct stat& status) {
    return isPlainOwnStatus(status, owner, true);
  };
  const auto outcome = Platform::openCheckedForReading(path, accept, fd);
  if (outcome == Platform::CheckedOpen::refused) throw ImagerError::message(kNotPlainFile);
  if (outcome != Platform::CheckedOpen::opened)
    throw ImagerError::message("Cannot open the image file.");
  return fd;
}

UniqueFd openImage(const std::string& path, std::optional<uint32_t> owner, bool writable) {
  if (!writable) return openForReading(path, owner);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw ImagerError::message("Cannot open the image file.");
  return UniqueFd(fd);
}

bool isPlainOwnFile(int fd, std::optional<uint32_t> owner, bool writable, int64_t* size) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 ||
      !isPlainOwnStatus(status, owner, Platform::ownershipIgnored(fd)))
    return false;
  if (::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return false;
  *size = status.st_size;
  return true;
}

}  // namespace

SourceFile::SourceFile(const std::string& path, std::optional<uint32_t> owner, bool writable)
    : fd_(openImage(path, owner, writable)) {
  if (!isPlainOwnFile(fd_.get(), owner, writable, &size_))
    throw ImagerError::message(kNotPlainFile);  // fd_ closes as the object unwinds
}
