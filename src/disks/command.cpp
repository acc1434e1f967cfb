#include "disks/command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "records/imager_error.h"
#include "support/system_error.h"
#include "support/unicode_text.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kChunkBytes = 65536;
constexpr std::size_t kErrorTextBytes = 1000;
constexpr auto kPollInterval = 20ms;
constexpr auto kKillGrace = 100ms;
constexpr auto kDrainAfterKill = 500ms;

class SpawnSettings {
 public:
  SpawnSettings() {
    if (const int err = posix_spawn_file_actions_init(&actions_)) throwSystemError(err);
    if (const int err = posix_spawnattr_init(&attributes_)) {
      posix_spawn_file_actions_destroy(&actions_);
      throwSystemError(err);
    }
  }
  ~SpawnSettings() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

void check(int err) {
  if (err != 0) throwSystemError(err);
}

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments, int out,
            int err) {
  SpawnSettings settings;
  // Whatever the writer was given as its own input is not the utility's to read.
  check(posix_spawn_file_actions_addopen(&settings.actions_, STDIN_FILENO, "/dev/null", O_RDONLY,
                                         0));
  check(posix_spawn_file_actions_adddup2(&settings.actions_, out, STDOUT_FILENO));
  check(posix_spawn_file_actions_adddup2(&settings.actions_, err, STDERR_FILENO));
  // A mask or an ignored signal of ours must not keep the child from being
  // terminated on time.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  // These two always keep their default action, and asking for it anyway is
  // refused by some systems.
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  check(posix_spawnattr_setsigmask(&settings.attributes_, &none));
  check(posix_spawnattr_setsigdefault(&settings.attributes_, &all));
  check(posix_spawnattr_setflags(&settings.attributes_,
                                 POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  Platform::inheritOnlyStandardDescriptors(settings.attributes_, settings.actions_);

  std::vector<char*> argv{const_cast<char*>(executable.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  char path[] = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";
  char locale[] = "LC_ALL=C";
  char* environment[] = {path, locale, nullptr};

  pid_t pid = -1;
  check(posix_spawn(&pid, executable.c_str(), &settings.actions_, &settings.attributes_,
                    argv.data(), environment));
  return pid;
}

// One started child and the two threads draining its pipes. Whatever way the
// run ends, the child is reaped and the readers are joined.
class Run {
 public:
  explicit Run(int64_t limit) : limit_(limit), wake_(Platform::makePipe()) {}
  ~Run() {
    if (pid_ > 0 && !exited()) {
      signal(SIGKILL);
      waitForExit();
    }
    stopReaders();
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  void adopt(pid_t pid) { pid_ = pid; }

  void startReaders(int out, int err) {
    startReader(out, out_);
    startReader(err, err_);
  }

  // Reaps the child if it has ended; true once it is reaped.
  bool reapIfExited() {
    std::lock_guard<std::mutex> guard(lock_);
    if (reaped_) return true;
    int status = 0;
    const pid_t result = waitpid(pid_, &status, WNOHANG);
    if (result == pid_) {
      reaped_ = true;
      succeeded_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    } else if (result < 0 && errno == ECHILD) {
      reaped_ = true;  // reaped behind our back: its status is lost
    }
    return reaped_;
  }

  bool exited() {
    std::lock_guard<std::mutex> guard(lock_);
    return reaped_;
  }

  void waitForExit() {
    siginfo_t info{};
    // Waits for the end without reaping, so that the pid stays valid for a
    // reader's signal until reapIfExited takes it under the lock.
    const auto id = static_cast<id_t>(pid_);
    while (waitid(P_PID, id, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    reapIfExited();
  }

  void signal(int number) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!reaped_) kill(pid_, number);
  }

  // Waits for both readers until `limit`; true when both reached the end of
  // their pipes, false when they had to be stopped.
  bool drainUntil(Clock::time_point limit) {
    std::unique_lock<std::mutex> guard(lock_);
    const bool drained = finished_.wait_until(guard, limit, [this] { return running_ == 0; });
    guard.unlock();
    stopReaders();
    return drained;
  }

  // Valid once the readers are joined.
  bool overflowed() const { return overflow_; }
  bool succeeded() const { return succeeded_; }
  std::string& output() { return out_; }
  const std::string& errorOutput() const { return err_; }

 private:
  void startReader(int fd, std::string& buffer) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      ++running_;
    }
    try {
      readers_.emplace_back([this, fd, &buffer] { drain(fd, buffer); });
    } catch (...) {
      std::lock_guard<std::mutex> guard(lock_);
      --running_;
      throw;
    }
  }

  void stopReaders() {
    wake_.second.reset();  // end of file on the wake pipe stops every reader
    for (std::thread& reader : readers_)
      if (reader.joinable()) reader.join();
  }

  void drain(int fd, std::string& buffer) {
    try {
      std::vector<char> chunk(kChunkBytes);
      while (readChunk(fd, chunk, buffer)) {
      }
    } catch (...) {
      // An allocation failure ends this reader like a read error.
    }
    std::lock_guard<std::mutex> guard(lock_);
    --running_;
    finished_.notify_all();
  }

  bool readChunk(int fd, std::vector<char>& chunk, std::string& buffer) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_.first.get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) return errno == EINTR;
    if (fds[1].revents != 0) return false;
    if (fds[0].revents == 0) return true;
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n < 0) return errno == EINTR;
    if (n == 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    const auto total = static_cast<int64_t>(out_.size() + err_.size()) + n;
    if (total > limit_) {
      overflow_ = true;  // the chunk is dropped; reading goes on to the end
      if (!reaped_) kill(pid_, SIGTERM);
    } else {
      buffer.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return true;
  }

  pid_t pid_ = -1;
  const int64_t limit_;
  std::pair<UniqueFd, UniqueFd> wake_;
  std::mutex lock_;  // guards everything below
  std::condition_variable finished_;
  std::string out_, err_;
  bool overflow_ = false;
  bool reaped_ = false;
  bool succeeded_ = false;
  int running_ = 0;
  std::vector<std::thread> readers_;
};

Clock::duration seconds(double value) {
  const double bounded = value > 0 ? std::min(value, 1e9) : 0.0;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

}  // namespace

namespace Command {

std::string run(const std::string& executable, const std::vector<std::string>& arguments,
                double timeout, int64_t limit) {
  auto [outRead, outWrite] = Platform::makePipe();
  auto [errRead, errWrite] = Platform::makePipe();
  Run run(limit);
  run.adopt(spawn(executable, arguments, outWrite.get(), errWrite.get()));
  // Only the child may hold the write ends, or the pipes would never end.
  outWrite.reset();
  errWrite.reset();
  run.startReaders(outRead.get(), errRead.get());

  const Clock::time_point deadline = Clock::now() + seconds(timeout);
  while (!run.reapIfExited() && Clock::now() < deadline) std::this_thread::sleep_for(kPollInterval);
  if (!run.reapIfExited()) {
    run.signal(SIGTERM);
    std::this_thread::sleep_for(kKillGrace);
    if (!run.reapIfExited()) run.signal(SIGKILL);
  }
  run.waitForExit();
  const bool drained = run.drainUntil(std::max(deadline, Clock::now() + kDrainAfterKill));

  if (run.overflowed() || !drained || Clock::now() >= deadline)
    throw ImagerError::message("System query timed out or returned too much data.");
  if (!run.succeeded()) {
    const std::string& err = run.errorOutput();
    throw ImagerError::message("System query failed: " +
                               toValidUtf8(std::string_view(err).substr(0, kErrorTextBytes)));
  }
  return std::move(run.output());
}

}  // namespace Command
