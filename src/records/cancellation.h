#pragma once

#include <mutex>

// The set-once stop flag shared by the heartbeat (which sets it) and the job
// (which polls it). Every access takes the lock for that one read or write.
class Cancellation {
 public:
  Cancellation() = default;
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  void set() {
    std::lock_guard guard(lock_);
    stopped_ = true;
  }

  bool stopped() const {
    std::lock_guard guard(lock_);
    return stopped_;
  }

  // Throws ImagerError::cancelled() once the flag is set.
  void check() const;

 private:
  mutable std::mutex lock_;
  bool stopped_ = false;
};
