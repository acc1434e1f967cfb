#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "helpers/temp_dir.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "support/unique_fd.h"

namespace {

// A path of exactly `length` bytes inside `directory`.
std::string pathOfLength(const std::string& directory, std::size_t length) {
  return directory + "/" + std::string(length - directory.size() - 1, 's');
}

UniqueFd acceptOn(int listener) { return UniqueFd(accept(listener, nullptr, nullptr)); }

}  // namespace

// The peers see the uid the listener had when it listened, as the writer
// sees the Imager's.
TEST(UnixSocket, ConnectsAtTheLongestPathAndTellsThePeersUid) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir dir;
  ASSERT_EQ(chown(dir.path().c_str(), 60000, 60000), 0);
  const std::string path = pathOfLength(dir.path(), 103);
  ASSERT_EQ(seteuid(60000), 0);
  UniqueFd listener(ori_unix_listener(path.c_str()));
  ASSERT_EQ(seteuid(0), 0);
  ASSERT_TRUE(listener) << path;
  UniqueFd client(ori_unix_connect(path.c_str()));
  ASSERT_TRUE(client);
  UniqueFd server = acceptOn(listener.get());
  uint32_t uid = 7;
  EXPECT_EQ(ori_peer_uid(client.get(), &uid), 1);
  EXPECT_EQ(uid, 60000u);
  EXPECT_EQ(ori_peer_uid(client.get(), nullptr), 0);
  for (int fd : {listener.get(), client.get()})
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << "descriptor " << fd;
  // A peer gone shows as EPIPE, not as SIGPIPE, which would end this process.
  server.reset();
  errno = 0;
  EXPECT_EQ(send(client.get(), "x", 1, Platform::sendFlags()), -1);
  EXPECT_EQ(errno, EPIPE);
}

// Every refusal is -1 and leaves no descriptor behind.
TEST(UnixSocket, RefusesWithoutLeakingADescriptor) {
  TempDir dir;
  const std::string tooLong = pathOfLength(dir.path(), 104);
  const std::string regularFile = dir / "file";
  writeFile(regularFile, "");
  const std::string boundOnly = dir / "bound";
  UniqueFd bound(Platform::unixStreamSocket());
  sockaddr_un address;
  const socklen_t length = Platform::unixAddress(boundOnly.c_str(), address);
  ASSERT_EQ(bind(bound.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
  // A listener the writer could reach only through a link, in a directory it
  // may enter only as root: it must see no connection at all.
  const std::string hidden = dir / "root-only", listening = hidden + "/s";
  ASSERT_EQ(mkdir(hidden.c_str(), 0700), 0);
  UniqueFd listener(ori_unix_listener(listening.c_str()));
  ASSERT_TRUE(listener);
  ASSERT_EQ(symlink(listening.c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink(hidden.c_str(), (dir / "linked-dir").c_str()), 0);
  const std::string link = dir / "link", throughLinkedDir = dir / "linked-dir/s";
  // A listener that bound another name, moved to the one connected to.
  const std::string renamed = dir / "renamed";
  UniqueFd moved(ori_unix_listener((dir / "bound-as").c_str()));
  ASSERT_TRUE(moved);
  ASSERT_EQ(rename((dir / "bound-as").c_str(), renamed.c_str()), 0);
  struct Case {
    const char* name;
    int (*function)(const char*);
    const char* path;
  } cases[] = {
      {"connect, 104 bytes", ori_unix_connect, tooLong.c_str()},
      {"listen, 104 bytes", ori_unix_listener, tooLong.c_str()},
      {"connect, no file", ori_unix_connect, "/nonexistent-writer-dir/s"},
      {"connect, regular file", ori_unix_connect, regularFile.c_str()},
      {"connect, bound but not listening", ori_unix_connect, boundOnly.c_str()},
      {"listen, socket exists", ori_unix_listener, boundOnly.c_str()},
      {"listen, no directory", ori_unix_listener, "/nonexistent-writer-dir/s"},
      {"connect, null path", ori_unix_connect, nullptr},
      {"connect, empty path", ori_unix_connect, ""},
      {"listen, empty path (an abstract name)", ori_unix_listener, ""},
      {"connect, a link to a socket", ori_unix_connect, link.c_str()},
      {"connect, a linked directory", ori_unix_connect, throughLinkedDir.c_str()},
      {"connect, a listener bound under another name", ori_unix_connect, renamed.c_str()},
  };
  for (const Case& c : cases) {
    const int before = openDescriptorCount();
    EXPECT_EQ(c.function(c.path), -1) << c.name;
    EXPECT_EQ(openDescriptorCount(), before) << c.name;
  }
  EXPECT_NE(access(tooLong.c_str(), F_OK), 0);
  ASSERT_EQ(fcntl(listener.get(), F_SETFL, O_NONBLOCK), 0);
  EXPECT_FALSE(acceptOn(listener.get()));
  EXPECT_EQ(errno, EAGAIN);
}

// A listener whose backlog is full cannot take the connection: it fails at
// once instead of blocking. A child does it, so that a hang ends as a failure.
TEST(UnixSocket, FailsAtOnceOnAFullBacklog) {
  TempDir dir;
  const std::string path = dir / "s";
  UniqueFd listener(ori_unix_listener(path.c_str()));
  ASSERT_TRUE(listener);
  std::vector<UniqueFd> waiting;
  for (bool full = false; !full;) {
    waiting.emplace_back(Platform::unixStreamSocket());
    ASSERT_EQ(fcntl(waiting.back().get(), F_SETFL, O_NONBLOCK), 0);
    sockaddr_un address;
    const socklen_t length = Platform::unixAddress(path.c_str(), address);
    full = connect(waiting.back().get(), reinterpret_cast<const sockaddr*>(&address), length) != 0;
  }
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);
    _exit(ori_unix_connect(path.c_str()) == -1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
