// The channel socket calls on macOS.

#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace Platform {

// The whole record, length byte included, is what bind and connect are given.
static_assert(sizeof(sockaddr_un) == 106 && sizeof(sockaddr_un::sun_path) == 104);

int unixStreamSocket() {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd) return -1;
  // There is no SOCK_CLOEXEC here. A child spawned in the moment before the
  // flag is set still gets nothing: every spawn closes all but 0 to 2.
  if (fcntl(fd.get(), F_SETFD, FD_CLOEXEC) == -1) return -1;
  // Writing to a socket whose peer is gone then fails with EPIPE instead of
  // raising SIGPIPE. A fresh socket always takes the option.
  const int on = 1;
  (void)setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
  return fd.release();
}

socklen_t unixAddress(const char* path, sockaddr_un& address) {
  memset(&address, 0, sizeof address);
  address.sun_len = static_cast<unsigned char>(sizeof address);
  address.sun_family = AF_UNIX;
  strlcpy(address.sun_path, path, sizeof address.sun_path);
  return sizeof address;
}

namespace {

// The directory that holds the socket, opened only when no component of its
// path is a symbolic link.
UniqueFd openDirectoryWithoutLinks(const std::string& directory) {
  int fd;
  do {
    fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW_ANY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  UniqueFd owned(fd);
  struct stat status{};
  if (!owned || fstat(owned.get(), &status) != 0 || !S_ISDIR(status.st_mode)) return {};
  return owned;
}

bool connectAtOnce(int fd, const char* name) {
  sockaddr_un address;
  const socklen_t length = unixAddress(name, address);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  // No waiting: a listener that cannot take the connection at once fails it.
  // No retry after EINTR: the connect goes on in the background.
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) return false;
  return fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

bool connectWithoutLinks(int fd, const char* path) {
  const std::string full(path);
  const std::size_t slash = full.rfind('/');
  if (slash == std::string::npos || slash + 1 == full.size()) return false;
  const std::string name = full.substr(slash + 1);
  const UniqueFd directory = openDirectoryWithoutLinks(slash == 0 ? "/" : full.substr(0, slash));
  struct stat status{};
  if (!directory || fstatat(directory.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISSOCK(status.st_mode))
    return false;
  // Connecting by the name within the checked directory reaches nothing
  // through a link on the way there; there is no connectat, and the process
  // has one thread at this point, so the working directory serves.
  if (fchdir(directory.get()) != 0) return false;
  const bool connected = connectAtOnce(fd, name.c_str());
  return chdir("/") == 0 && connected;
}

// SO_NOSIGPIPE on the socket already keeps a lost peer from raising a signal.
int sendFlags() { return 0; }

void keepLostPeerQuiet(int fd) {
  const int on = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
}

std::optional<uint32_t> peerUid(int fd) {
  uid_t uid = 0;
  gid_t gid = 0;
  // The effective ids the peer had when it connected or began listening.
  if (getpeereid(fd, &uid, &gid) != 0) return std::nullopt;
  return uid;
}

}  // namespace Platform
