// The two ends of the session channel and the identity of the peer.

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "native/ori.h"
#include "platform/platform.h"
#include "support/unique_fd.h"

namespace {

// The longest path that fits the smallest address record we support (104
// bytes on macOS) with its NUL.
constexpr size_t kMaximumPathBytes = 103;

// The address the listener at the other end of `fd` bound is exactly `path`.
// A listener bound under another name and moved, or linked, to `path` is not
// the one the request names, even in a directory of the right user.
bool PeerIsNamed(int fd, const char* path) {
  sockaddr_un address{};
  socklen_t length = sizeof address;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      length <= offsetof(sockaddr_un, sun_path) || address.sun_family != AF_UNIX)
    return false;
  const std::size_t room =
      std::min<std::size_t>(length - offsetof(sockaddr_un, sun_path), sizeof address.sun_path);
  return std::string_view(address.sun_path, strnlen(address.sun_path, room)) == path;
}

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
  return Platform::connectWithoutLinks(fd.get(), path) && PeerIsNamed(fd.get(), path)
             ? fd.release()
             : -1;
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
