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
#include "imageio/image_io.h"
#include "support/unique_fd.h"

namespace {

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

// A signal that arrives while the writer waits for a full pipe ends the
// write early: with EINTR when nothing was written in that call, with a short
// count otherwise. A one-page pipe that is drained only a little at a time
// makes both happen.
TEST(WriteAll, GoesOnAfterSignalsAndShortWrites) {
  struct sigaction handler {
  }, previous{};
  handler.sa_handler = countSignal;  // no SA_RESTART: interrupted writes return
  ASSERT_EQ(::sigaction(SIGUSR1, &handler, &previous), 0);
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  UniqueFd in(ends[0]), out(ends[1]);
  ASSERT_GE(::fcntl(out.get(), F_SETPIPE_SZ, 4096), 4096);

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
      const ssize_t count = ::read(in.get(), buffer, sizeof buffer);
      if (count <= 0) break;
      received.append(buffer, static_cast<std::size_t>(count));
    }
  });
  EXPECT_NO_THROW(ImageIO::writeAll(out.get(), bytesOf(bytes)));
  done = true;
  out.reset();  // the reader sees the end even when the write gave up
  reader.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(received, bytes);
  EXPECT_GT(signalsSeen.load(), 1);
}

// Failing writes: the writeAndVerify tests.

}  // namespace
