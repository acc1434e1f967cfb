// The channel socket calls on Linux.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <string>

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

namespace {

// `name` under `directory`, opened as a path only and never through a link:
// O_NOFOLLOW opens a link itself, which then fails the type test.
UniqueFd openPathAt(int directory, const std::string& name, mode_t type) {
  int fd;
  do {
    fd = openat(directory, name.c_str(),
                O_PATH | O_NOFOLLOW | O_CLOEXEC | (type == S_IFDIR ? O_DIRECTORY : 0));
  } while (fd < 0 && errno == EINTR);
  UniqueFd owned(fd);
  struct stat status{};
  if (!owned || fstat(owned.get(), &status) != 0 || (status.st_mode & S_IFMT) != type) return {};
  return owned;
}

// The socket node at `path`, reached one component at a time, each a real
// directory, the last a real socket.
UniqueFd openSocketNode(const std::string& path) {
  if (path.empty()) return {};
  UniqueFd directory = openPathAt(AT_FDCWD, path.front() == '/' ? "/" : ".", S_IFDIR);
  std::size_t start = 0;
  while (directory) {
    const std::size_t end = path.find('/', start);
    const std::string name = path.substr(start, end - start);
    if (end == std::string::npos) return openPathAt(directory.get(), name, S_IFSOCK);
    start = end + 1;
    if (!name.empty()) directory = openPathAt(directory.get(), name, S_IFDIR);
  }
  return {};
}

}  // namespace

bool connectWithoutLinks(int fd, const char* path) {
  const UniqueFd node = openSocketNode(path);
  if (!node) return false;
  // Connecting through the node's own descriptor reaches the very socket that
  // was checked, whatever the path names by now.
  const std::string alias = "/proc/self/fd/" + std::to_string(node.get());
  sockaddr_un address;
  const socklen_t length = unixAddress(alias.c_str(), address);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  // A full backlog answers EAGAIN at once rather than blocking. No retry
  // after EINTR either: the connect may go on in the background.
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) return false;
  return fcntl(fd, F_SETFL, flags) == 0;
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
