#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "helpers/foreign_listener.h"
#include "helpers/temp_dir.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "support/unique_fd.h"

namespace {

// A path of exactly `length` bytes inside `directory`.
std::string pathOfLength(const std::string& directory, std::size_t length) {
  const std::string prefix = directory + "/";
  return prefix + std::string(length - prefix.size(), 's');
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

UniqueFd acceptOn(int listener) { return UniqueFd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)); }

}  // namespace

TEST(UnixSocket, ListensAndConnectsAtTheLongestPath) {
  TempDir dir;
  const std::string path = pathOfLength(dir.path(), 103);
  UniqueFd listener(ori_unix_listener(path.c_str()));
  ASSERT_TRUE(listener) << path;
  UniqueFd client(ori_unix_connect(path.c_str()));
  ASSERT_TRUE(client);
  UniqueFd server = acceptOn(listener.get());
  ASSERT_TRUE(server);
  ASSERT_EQ(send(client.get(), "ping\n", 5, Platform::sendFlags()), 5);
  char buffer[8] = {};
  EXPECT_EQ(recv(server.get(), buffer, sizeof buffer, 0), 5);
  EXPECT_STREQ(buffer, "ping\n");
  for (int fd : {listener.get(), client.get()})
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << "descriptor " << fd;
}

// Every refusal is -1 and leaves no descriptor behind.
TEST(UnixSocket, RefusesWithoutLeakingADescriptor) {
  TempDir dir;
  const std::string tooLong = pathOfLength(dir.path(), 104);
  const std::string regularFile = dir.path() + "/file";
  UniqueFd(open(regularFile.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  const std::string missing = dir.path() + "/missing";
  const std::string boundOnly = dir.path() + "/bound";
  UniqueFd bound(Platform::unixStreamSocket());
  sockaddr_un address;
  const socklen_t length = Platform::unixAddress(boundOnly.c_str(), address);
  ASSERT_EQ(bind(bound.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);

  struct Case {
    const char* name;
    int (*function)(const char*);
    const char* path;
  } cases[] = {
      {"connect, 104 bytes", ori_unix_connect, tooLong.c_str()},
      {"listen, 104 bytes", ori_unix_listener, tooLong.c_str()},
      {"connect, no file", ori_unix_connect, missing.c_str()},
      {"connect, regular file", ori_unix_connect, regularFile.c_str()},
      {"connect, bound but not listening", ori_unix_connect, boundOnly.c_str()},
      {"listen, file exists", ori_unix_listener, regularFile.c_str()},
      {"listen, socket exists", ori_unix_listener, boundOnly.c_str()},
      {"listen, no directory", ori_unix_listener, "/nonexistent-writer-dir/s"},
      {"connect, null path", ori_unix_connect, nullptr},
      {"listen, null path", ori_unix_listener, nullptr},
  };
  for (const Case& c : cases) {
    const int before = openDescriptorCount();
    EXPECT_EQ(c.function(c.path), -1) << c.name;
    EXPECT_EQ(openDescriptorCount(), before) << c.name;
  }
  EXPECT_FALSE(exists(tooLong));
}

TEST(UnixSocket, PeerUidIsTheListenersEffectiveUid) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir dir;
  ASSERT_EQ(chown(dir.path().c_str(), 60000, 60000), 0);
  const std::string path = dir.path() + "/s";
  UniqueFd listener = listenAs(60000, path);
  ASSERT_TRUE(listener);
  UniqueFd client(ori_unix_connect(path.c_str()));
  ASSERT_TRUE(client);
  uint32_t uid = 7;
  EXPECT_EQ(ori_peer_uid(client.get(), &uid), 1);
  EXPECT_EQ(uid, 60000u);
  EXPECT_EQ(ori_peer_uid(client.get(), nullptr), 0);
  UniqueFd server = acceptOn(listener.get());
  EXPECT_EQ(ori_peer_uid(server.get(), &uid), 1);
  EXPECT_EQ(uid, geteuid());
}

TEST(UnixSocket, PeerUidIsUnknownOffASocket) {
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  UniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
  UniqueFd unconnected(Platform::unixStreamSocket());
  for (int fd : {readEnd.get(), unconnected.get(), -1}) {
    uint32_t uid = 7;
    EXPECT_EQ(ori_peer_uid(fd, &uid), 0) << "descriptor " << fd;
    EXPECT_EQ(uid, 7u) << "descriptor " << fd;
  }
}

// The test process itself would die of SIGPIPE if the send raised it.
TEST(UnixSocket, SendToAClosedPeerFailsWithEpipe) {
  TempDir dir;
  const std::string path = dir.path() + "/s";
  UniqueFd listener(ori_unix_listener(path.c_str()));
  UniqueFd client(ori_unix_connect(path.c_str()));
  ASSERT_TRUE(client);
  acceptOn(listener.get()).reset();
  errno = 0;
  EXPECT_EQ(send(client.get(), "x", 1, Platform::sendFlags()), -1);
  EXPECT_EQ(errno, EPIPE);
}
