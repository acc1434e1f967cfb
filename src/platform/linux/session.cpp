// Session services on Linux: no idle-sleep assertion, and a plain thread for
// the repeating timer.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace Platform {

// Linux desktops have no system-wide assertion a root process can hold
// without a session bus; the job does not depend on it.
uint32_t preventIdleSleep() { return 0; }

void allowIdleSleep(uint32_t) {}

namespace {

// Shared by the timer handle and its thread, so either may go first.
struct TimerState {
  std::mutex lock;
  std::condition_variable changed;
  bool cancelled = false;
  bool firing = false;
  std::thread::id thread;
  std::function<void()> handler;
};

void runTimer(const std::shared_ptr<TimerState>& state, std::chrono::milliseconds period) {
  // Firings follow an absolute schedule, so a slow handler does not drift it;
  // firings missed while the process was held up are dropped, not made up in
  // a burst.
  auto next = std::chrono::steady_clock::now();
  std::unique_lock guard(state->lock);
  while (!state->changed.wait_until(guard, next, [&] { return state->cancelled; })) {
    state->firing = true;
    guard.unlock();
    state->handler();
    guard.lock();
    state->firing = false;
    state->changed.notify_all();
    const auto now = std::chrono::steady_clock::now();
    do next += period;
    while (next <= now);
  }
}

class ThreadTimer final : public RepeatingTimer {
 public:
  explicit ThreadTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
  ~ThreadTimer() override { cancel(); }

  void cancel() override {
    std::unique_lock guard(state_->lock);
    state_->cancelled = true;
    state_->changed.notify_all();
    // Waiting for a firing in progress lets the caller close what the handler
    // uses; the handler itself cannot wait for its own end.
    if (std::this_thread::get_id() != state_->thread)
      state_->changed.wait(guard, [&] { return !state_->firing; });
  }

 private:
  std::shared_ptr<TimerState> state_;
};

}  // namespace

std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::chrono::milliseconds period,
                                                    std::function<void()> handler) {
  auto state = std::make_shared<TimerState>();
  state->handler = std::move(handler);
  std::lock_guard guard(state->lock);
  std::thread thread(runTimer, state, period);
  state->thread = thread.get_id();
  // Detached: the process exits without waiting for it.
  thread.detach();
  return std::make_unique<ThreadTimer>(std::move(state));
}

}  // namespace Platform
