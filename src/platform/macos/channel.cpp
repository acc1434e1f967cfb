// The channel socket calls on macOS.

#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
