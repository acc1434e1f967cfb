#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "helpers/temp_dir.h"
#include "helpers/write_fault.h"
#include "imageio/image_io.h"
#include "records/imager_error.h"
#include "support/unique_fd.h"

namespace {

constexpr char kWriteFailed[] = "Writing failed. Check the connection and free space.";

std::atomic<int> signalsSeen{0};
void countSignal(int) { ++signalsSeen; }

std::span<const uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// True while thread `tid` of this process sits in write(2).
bool blockedInWrite(pid_t tid) {
  std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return (syscall >> number) && number == SYS_write;
}

struct Pipe {
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) std::abort();
    in.reset(ends[0]);
    out.reset(ends[1]);
  }
  UniqueFd in, out;
};

// A signal that arrives while the writer waits for a full pipe ends the
// write early: with EINTR when nothing was written in that call, with a short
// count otherwise. A one-page pipe that is drained only a little at a time
// makes both happen.
TEST(WriteAll, GoesOnAfterSignalsAndShortWrites) {
  struct sigaction handler {
  }, previous{};
  handler.sa_handler = countSignal;  // no SA_RESTART: interrupted writes return
  ASSERT_EQ(::sigaction(SIGUSR1, &handler, &previous), 0);
  Pipe pipe;
  ASSERT_GE(::fcntl(pipe.out.get(), F_SETPIPE_SZ, 4096), 4096);

  const std::string bytes = noiseBytes(256 * 1024, 41);
  const pid_t writer = static_cast<pid_t>(::syscall(SYS_gettid));
  std::atomic<bool> done{false};
  std::string received;
  signalsSeen = 0;
  std::thread reader([&] {
    char buffer[1000];
    while (received.size() < bytes.size()) {
      while (!done && !blockedInWrite(writer)) std::this_thread::yield();
      if (!done) ::syscall(SYS_tgkill, ::getpid(), writer, SIGUSR1);
      const ssize_t count = ::read(pipe.in.get(), buffer, sizeof buffer);
      if (count <= 0) break;
      received.append(buffer, static_cast<std::size_t>(count));
    }
  });
  EXPECT_NO_THROW(ImageIO::writeAll(pipe.out.get(), bytesOf(bytes)));
  done = true;
  pipe.out.reset();  // the reader sees the end even when the write gave up
  reader.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(received, bytes);
  EXPECT_GT(signalsSeen.load(), 1);
}

TEST(WriteAll, FailuresHaveOneMessage) {
  TempDir dir;
  writeFile(dir / "target", "");
  const UniqueFd target(::open((dir / "target").c_str(), O_WRONLY | O_CLOEXEC));
  struct Case {
    const char* what;
    int error;
    int passing;
  };
  const Case cases[] = {
      {"no byte accepted", 0, 0},
      {"no byte accepted after a first write", 0, 1},
      {"I/O error", EIO, 0},
      {"no space", ENOSPC, 0},
  };
  const std::string block(8192, 'b');
  for (const Case& c : cases) {
    // Passing writes take only part of the block, so another call follows.
    const WriteFault fault(target.get(), c.error, c.passing, 1000);
    try {
      ImageIO::writeAll(target.get(), bytesOf(block));
      ADD_FAILURE() << c.what << ": succeeded";
    } catch (const ImagerError& error) {
      EXPECT_STREQ(error.what(), kWriteFailed) << c.what;
    }
    EXPECT_EQ(fault.calls(), c.passing + 1) << c.what << ": retried";
  }
}

TEST(WriteAll, ShortWritesGoOnFromWhereTheDeviceStopped) {
  TempDir dir;
  writeFile(dir / "target", "");
  const UniqueFd target(::open((dir / "target").c_str(), O_WRONLY | O_CLOEXEC));
  const std::string bytes = noiseBytes(8192, 42);
  {
    const WriteFault fault(target.get(), EIO, 100, 1000);
    ImageIO::writeAll(target.get(), bytesOf(bytes));
    EXPECT_EQ(fault.calls(), 9);
  }
  EXPECT_EQ(readFile(dir / "target"), bytes);
}

TEST(WriteAll, NothingToWriteMakesNoCall) {
  const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(full);
  const WriteFault fault(full.get(), EIO);
  EXPECT_NO_THROW(ImageIO::writeAll(full.get(), {}));
  EXPECT_EQ(fault.calls(), 0);
  EXPECT_THROW(ImageIO::writeAll(full.get(), bytesOf("x")), ImagerError);
}

}  // namespace
