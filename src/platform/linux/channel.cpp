// The channel socket calls on Linux.

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "platform/platform.h"

namespace Platform {

int unixStreamSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

socklen_t unixAddress(const char* path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  // The caller's 103-byte limit leaves the NUL from the memset in place.
  std::memcpy(address.sun_path, path, std::strlen(path));
  return sizeof address;
}

// Linux has no per-socket SO_NOSIGPIPE: each send asks for EPIPE instead of
// SIGPIPE when the peer is gone.
int sendFlags() { return MSG_NOSIGNAL; }

// MSG_NOSIGNAL in sendFlags() is all Linux needs.
void keepLostPeerQuiet(int) {}

std::optional<uint32_t> peerUid(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  // The kernel records the peer's effective ids when it connected or began
  // listening; a socket without a peer answers with the invalid uid -1.
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof credentials || credentials.uid == static_cast<uid_t>(-1))
    return std::nullopt;
  return credentials.uid;
}

}  // namespace Platform
