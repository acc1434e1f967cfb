#include "imageio/source_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "records/imager_error.h"

namespace {

constexpr const char* kNotPlainFile =
    "The image must be an unlocked regular file owned by this user.";

UniqueFd openImage(const std::string& path, bool writable) {
  // O_NONBLOCK keeps the read-only open of a FIFO or a device that waits on
  // open from hanging; such files are refused by the type check anyway.
  const int flags = writable ? O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC
                             : O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0600);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
}

bool isPlainOwnFile(int fd, std::optional<uint32_t> owner, bool writable, int64_t* size) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  if ((status.st_mode & S_IFMT) != S_IFREG) return false;
  if (owner && status.st_uid != *owner) return false;
  if (status.st_nlink != 1) return false;
  if (::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return false;
  // Every later read is a plain blocking one.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ((flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0))
    return false;
  *size = status.st_size;
  return true;
}

}  // namespace

SourceFile::SourceFile(const std::string& path, std::optional<uint32_t> owner, bool writable)
    : fd_(openImage(path, writable)) {
  if (!fd_) throw ImagerError::message("Cannot open the image file.");
  if (!isPlainOwnFile(fd_.get(), owner, writable, &size_))
    throw ImagerError::message(kNotPlainFile);  // fd_ closes as the object unwinds
}
