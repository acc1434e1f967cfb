#include "helpers/foreign_listener.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "native/ori.h"

namespace {

// One byte that carries one descriptor (SCM_RIGHTS).
struct DescriptorMessage {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};

  DescriptorMessage() {
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
};

void sendDescriptor(int channel, int fd) {
  DescriptorMessage m;
  cmsghdr* header = CMSG_FIRSTHDR(&m.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof fd);
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  sendmsg(channel, &m.message, 0);
}

int receiveDescriptor(int channel) {
  DescriptorMessage m;
  if (recvmsg(channel, &m.message, MSG_CMSG_CLOEXEC) != 1) return -1;
  const cmsghdr* header = CMSG_FIRSTHDR(&m.message);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return fd;
}

}  // namespace

UniqueFd listenAs(uid_t uid, const std::string& path) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    throw std::runtime_error("socketpair");
  UniqueFd ours(pair[0]), theirs(pair[1]);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (setgid(uid) != 0 || setuid(uid) != 0) _exit(1);
    const int fd = ori_unix_listener(path.c_str());
    if (fd >= 0) sendDescriptor(theirs.get(), fd);
    _exit(0);
  }
  theirs.reset();
  UniqueFd listener(receiveDescriptor(ours.get()));
  waitpid(pid, nullptr, 0);
  return listener;
}
