#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace ImageIO {

// A thread of its own that runs one task at a time for the pass that owns
// it, so that the pass can go on with its next chunk meanwhile: the device
// transfer or the hashing of the chunk before. Tasks only compute or do
// blocking I/O; they never send events or look at the stop flag.
class Worker {
 public:
  Worker();
  // Waits for a task still running (its error is dropped), then ends the
  // thread. Declare a worker after the buffers its tasks use.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts `task` on the worker's thread. The task started before must have
  // been waited for.
  void start(std::function<void()> task);

  // Blocks until the task started last has ended and rethrows its error.
  // Returns at once when nothing runs.
  void wait();

 private:
  void run();

  std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> task_;
  bool busy_ = false;
  bool unwaited_ = false;  // a task was started and not yet waited for
  bool stopping_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace ImageIO
