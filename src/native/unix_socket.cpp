// The two ends of the session channel and the identity of the peer.

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "native/ori.h"
#include "platform/platform.h"
#include "support/unique_fd.h"

namespace {

// The longest path that fits the smallest address record we support (104
// bytes on macOS) with its NUL.
constexpr size_t kMaximumPathBytes = 103;

int UnixSocket(const char* path, bool listen) {
  // An empty path would name an abstract socket on Linux, outside any
  // directory a user owns.
  if (path == nullptr || path[0] == '\0' ||
      strnlen(path, kMaximumPathBytes + 1) > kMaximumPathBytes)
    return -1;
  UniqueFd fd(Platform::unixStreamSocket());
  if (!fd) return -1;
  if (listen) {
    sockaddr_un address;
    const socklen_t length = Platform::unixAddress(path, address);
    if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::listen(fd.get(), 1) == 0)
      return fd.release();
    return -1;
  }
  return Platform::connectWithoutLinks(fd.get(), path) ? fd.release() : -1;
}

}  // namespace

extern "C" int ori_unix_connect(const char* path) { return UnixSocket(path, false); }

extern "C" int ori_unix_listener(const char* path) { return UnixSocket(path, true); }

extern "C" int ori_peer_uid(int fd, uint32_t* uid) {
  if (uid == nullptr) return 0;
  const auto peer = Platform::peerUid(fd);
  if (!peer) return 0;
  *uid = *peer;
  return 1;
}
