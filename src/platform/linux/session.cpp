// Session services on Linux: logind's idle-sleep inhibitor, and a plain
// thread for the repeating timer.

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace Platform {

namespace {

// The system bus at its fixed place: never where an environment variable
// says, as the writer runs as root for whoever started it.
constexpr const char* kSystemBus = "unix:path=/run/dbus/system_bus_socket";
constexpr uint64_t kBusCallMicroseconds = 2000000;

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

}  // namespace

// logind holds the machine awake for as long as the descriptor it hands out
// stays open; the identifier is that descriptor plus one. Without logind or
// the bus the job goes on awake or not.
uint32_t preventIdleSleep() {
  sd_bus* opened = nullptr;
  if (sd_bus_new(&opened) < 0) return 0;
  const std::unique_ptr<sd_bus, BusCloser> bus(opened);
  if (sd_bus_set_address(bus.get(), kSystemBus) < 0 || sd_bus_set_bus_client(bus.get(), 1) < 0 ||
      sd_bus_set_method_call_timeout(bus.get(), kBusCallMicroseconds) < 0 ||
      sd_bus_start(bus.get()) < 0)
    return 0;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
  sd_bus_message* answered = nullptr;
  const int called = sd_bus_call_method(
      bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
      "org.freedesktop.login1.Manager", "Inhibit", &error, &answered, "ssss", "sleep:idle",
      "writer", "Writing an image to a drive", "block");
  sd_bus_error_free(&error);
  if (called < 0) return 0;
  const std::unique_ptr<sd_bus_message, MessageUnref> reply(answered);
  int fd = -1;
  if (sd_bus_message_read(reply.get(), "h", &fd) < 0 || fd < 0) return 0;
  // The message owns its descriptor; the hold needs one of its own.
  const int held = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  return held < 0 ? 0 : static_cast<uint32_t>(held) + 1;
}

void allowIdleSleep(uint32_t assertion) {
  if (assertion != 0) close(static_cast<int>(assertion - 1));
}

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
