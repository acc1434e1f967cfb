#include "imageio/worker.h"

#include <stdexcept>
#include <utility>

namespace ImageIO {

Worker::Worker() : thread_([this] { run(); }) {}

Worker::~Worker() {
  {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return !busy_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Worker::start(std::function<void()> task) {
  {
    std::lock_guard guard(lock_);
    if (unwaited_) throw std::logic_error("worker started before it was waited for");
    task_ = std::move(task);
    busy_ = true;
    unwaited_ = true;
  }
  changed_.notify_all();
}

void Worker::wait() {
  std::unique_lock guard(lock_);
  changed_.wait(guard, [this] { return !busy_; });
  unwaited_ = false;
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void Worker::run() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return busy_ || stopping_; });
    if (!busy_) return;
    std::function<void()> task = std::move(task_);
    guard.unlock();
    std::exception_ptr error;
    try {
      task();
    } catch (...) {
      error = std::current_exception();
    }
    task = nullptr;
    guard.lock();
    error_ = error;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace ImageIO
