#include "imageio/source_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "helpers/temp_dir.h"
#include "records/imager_error.h"

namespace {

constexpr char kCannotOpen[] = "Cannot open the image file.";
constexpr char kNotPlain[] = "The image must be an unlocked regular file owned by this user.";

// The message SourceFile fails with, or "" when it opens.
std::string refusal(const std::string& path, std::optional<uint32_t> owner = 0,
                    bool writable = false) {
  try {
    SourceFile source(path, owner, writable);
    return "";
  } catch (const ImagerError& error) {
    return error.what();
  }
}

// Another process that holds a flock on `path` until the object goes.
class LockHolder {
 public:
  LockHolder(const std::string& path, int operation) {
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(release[1]);
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      const char status = (fd >= 0 && ::flock(fd, operation) == 0) ? 'y' : 'n';
      (void)!::write(ready[1], &status, 1);
      char byte;
      (void)!::read(release[0], &byte, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char status = 'n';
    (void)!::read(ready[0], &status, 1);
    ::close(ready[0]);
    locked_ = status == 'y';
  }
  ~LockHolder() {
    ::close(release_);
    ::waitpid(pid_, nullptr, 0);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

// Runs `work` in a child process and returns what it reports; a child that
// has not answered after a generous grace period is killed and reported as
// hung. This guards against a hang; it measures nothing.
std::string inChild(const std::function<std::string()>& work) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string answer = work();
    (void)!::write(out[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(out[1]);
  pollfd ready{out[0], POLLIN, 0};
  std::string answer = "hung";
  if (::poll(&ready, 1, 60000) == 1) {
    char buffer[256];
    const ssize_t count = ::read(out[0], buffer, sizeof buffer);
    answer.assign(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
  } else {
    ::kill(pid, SIGKILL);
  }
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  return answer;
}

class SourceFileTest : public ::testing::Test {
 protected:
  std::string image(const std::string& name = "image.img", const std::string& bytes = "data") {
    const std::string path = dir / name;
    writeFile(path, bytes);
    return path;
  }
  TempDir dir;
};

TEST_F(SourceFileTest, RefusesWhatIsNotPlainlyTheUsersOwnFile) {
  const std::string plain = image();
  std::filesystem::create_symlink(plain, dir / "link");
  std::filesystem::create_directory(dir / "folder");
  const std::string linked = image("linked.img");
  std::filesystem::create_hard_link(linked, dir / "second-name");
  const std::string foreign = image("foreign.img");
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);

  struct Case {
    const char* what;
    std::string path;
    std::optional<uint32_t> owner;
    const char* message;
  };
  const Case cases[] = {
      {"symbolic link", dir / "link", 0, kCannotOpen},
      {"missing file", dir / "missing", 0, kCannotOpen},
      {"directory", dir / "folder", 0, kNotPlain},
      {"character device", "/dev/null", 0, kNotPlain},
      {"owned by another user", foreign, 0, kNotPlain},
      {"owned by root, asked for another user", plain, 1000, kNotPlain},
      {"second hard link", linked, 0, kNotPlain},
  };
  for (const Case& c : cases) {
    const int before = openDescriptorCount();
    EXPECT_EQ(refusal(c.path, c.owner), c.message) << c.what;
    EXPECT_EQ(openDescriptorCount(), before) << c.what << " leaked a descriptor";
  }
}

TEST_F(SourceFileTest, FifoWithoutWriterIsRefusedWithoutWaiting) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(inChild([&] { return refusal(fifo); }), kNotPlain);
}

TEST_F(SourceFileTest, ExclusiveLockOfAnotherProcessIsRefusedAtOnce) {
  const std::string path = image();
  {
    const LockHolder holder(path, LOCK_EX);
    ASSERT_TRUE(holder.locked());
    EXPECT_EQ(inChild([&] { return refusal(path); }), kNotPlain);
  }
  EXPECT_EQ(refusal(path), "");
}

TEST_F(SourceFileTest, SharedLockOfAnotherProcessIsAccepted) {
  const std::string path = image();
  const LockHolder holder(path, LOCK_SH);
  ASSERT_TRUE(holder.locked());
  EXPECT_EQ(refusal(path), "");
}

TEST_F(SourceFileTest, OwnerCheckIsSkippedWithoutOwner) {
  const std::string foreign = image();
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  EXPECT_EQ(refusal(foreign, std::nullopt), "");
  EXPECT_EQ(refusal(foreign, 65534), "");
}

TEST_F(SourceFileTest, EmptyFileIsAcceptedWithSizeZero) {
  const SourceFile source(image("empty.img", ""), 0, false);
  EXPECT_EQ(source.size(), 0);
}

TEST_F(SourceFileTest, HoldsABlockingDescriptorAndASharedLockUntilDestroyed) {
  const std::string path = image("image.img", std::string(5000, 'x'));
  int fd = -1;
  {
    const SourceFile source(path, 0, false);
    fd = source.fd();
    EXPECT_EQ(source.size(), 5000);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_RDONLY);
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
    EXPECT_EQ(refusal(path), "") << "a second shared lock is allowed";
    EXPECT_EQ(refusal(path, 0, true), kNotPlain) << "the shared lock keeps out an exclusive one";
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(refusal(path, 0, true), "");
}

TEST_F(SourceFileTest, WritableCreatesAPrivateFileUnderAnExclusiveLock) {
  const std::string path = dir / "new.img";
  const SourceFile source(path, 0, true);
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(::fcntl(source.fd(), F_GETFL) & O_ACCMODE, O_RDWR);
  EXPECT_EQ(refusal(path), kNotPlain);
}

}  // namespace
