#include "imageio/source_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <thread>

#include "helpers/outcome.h"
#include "helpers/temp_dir.h"
#include "support/unique_fd.h"

namespace {

constexpr char kCannotOpen[] = "Cannot open the image file.";
constexpr char kNotPlain[] = "The image must be an unlocked regular file owned by this user.";

// The message SourceFile fails with, or "" when it opens. A FIFO without a
// writer or a lock held elsewhere must not make it wait: the test would hang.
std::string refusal(const std::string& path, std::optional<uint32_t> owner = 0,
                    bool writable = false) {
  return outcomeOf([&] { SourceFile(path, owner, writable); });
}

}  // namespace

TEST(SourceFile, RefusesWhatIsNotPlainlyTheUsersOwnFile) {
  TempDir dir;
  const std::string plain = dir / "image.img", linked = dir / "linked.img",
                    foreign = dir / "foreign.img", locked = dir / "locked.img",
                    unknown = dir / "unknown.img";
  for (const std::string& path : {plain, linked, foreign, locked, unknown}) writeFile(path, "data");
  std::filesystem::create_symlink(plain, dir / "link");
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_hard_link(linked, dir / "second-name");
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(unknown.c_str(), 99, 99), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  // flock locks conflict between open file descriptions, even in one process.
  const UniqueFd exclusive(::open(locked.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(exclusive.get(), LOCK_EX), 0);
  const UniqueFd shared(::open(plain.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(shared.get(), LOCK_SH), 0);
  struct Case {
    const char* what;
    std::string path;
    std::optional<uint32_t> owner;
    const char* message;
  } cases[] = {
      {"plain, shared lock elsewhere", plain, 0, ""},
      {"symbolic link", dir / "link", 0, kCannotOpen},
      {"missing file", dir / "missing", 0, kCannotOpen},
      {"directory", dir / "folder", 0, kNotPlain},
      {"character device", "/dev/null", 0, kNotPlain},
      {"FIFO without a writer", dir / "fifo", 0, kNotPlain},
      {"owned by another user", foreign, 0, kNotPlain},
      {"the unknown user's, where ownership counts", unknown, 0, kNotPlain},
      {"owned by root, asked for another user", plain, 1000, kNotPlain},
      {"another user's, as that user", foreign, 65534, ""},
      {"another user's, owner not asked", foreign, std::nullopt, ""},
      {"second hard link", linked, 0, kNotPlain},
      {"exclusively locked elsewhere", locked, 0, kNotPlain},
  };
  for (const Case& c : cases) {
    const int before = openDescriptorCount();
    EXPECT_EQ(refusal(c.path, c.owner), c.message) << c.what;
    EXPECT_EQ(openDescriptorCount(), before) << c.what << " leaked a descriptor";
  }
}

// A FIFO is refused without ever being opened, so a process blocked opening
// it for writing is not woken: the kernel notes every open of it, and the
// writer still waits until a reader comes.
TEST(SourceFile, NeverOpensAFifo) {
  TempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const pid_t child = fork();
  if (child == 0) _exit(::open(fifo.c_str(), O_WRONLY) >= 0 ? 0 : 1);
  for (long call = -1; call != SYS_openat; std::this_thread::yield())
    std::ifstream("/proc/" + std::to_string(child) + "/syscall") >> call;
  const UniqueFd opens(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_GE(inotify_add_watch(opens.get(), fifo.c_str(), IN_OPEN), 0);
  EXPECT_EQ(refusal(fifo), kNotPlain);
  char event[sizeof(inotify_event) + NAME_MAX + 1];
  EXPECT_EQ(::read(opens.get(), event, sizeof event), -1) << "the FIFO was opened";
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the writer was woken";
  const UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_EQ(waitpid(child, &status, 0), child);
}

// The descriptor blocks, is closed on exec and with the object, and holds a
// shared lock that keeps out an exclusive one (a writable source's).
TEST(SourceFile, HoldsABlockingDescriptorAndASharedLockUntilDestroyed) {
  TempDir dir;
  const std::string path = dir / "image.img";
  writeFile(path, std::string(5000, 'x'));
  int fd = -1;
  {
    const SourceFile source(path, 0, false);
    fd = source.fd();
    EXPECT_EQ(source.size(), 5000);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_RDONLY);
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
    EXPECT_EQ(refusal(path, 0, true), kNotPlain);
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(refusal(path, 0, true), "");
}
