#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/platform.h"

using namespace std::chrono_literals;

namespace {

// Waits for `condition` for at most `limit`; the limit only keeps a broken
// timer from hanging the suite.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

}  // namespace

// With an hour's period, only a firing at once can arrive; once cancel
// returns, the handler's captures may go away. (Repeated firings: the
// heartbeat's silence, end to end.)
TEST(RepeatingTimer, FiresAtOnceAndCancelWaitsForTheFiring) {
  std::atomic<int> started = 0;
  std::atomic<bool> finished = false;
  auto timer = Platform::startRepeatingTimer(std::chrono::hours(1), [&] {
    ++started;
    std::this_thread::sleep_for(200ms);
    finished = true;
  });
  ASSERT_TRUE(eventually([&] { return started == 1; }));
  timer->cancel();
  EXPECT_TRUE(finished);
  EXPECT_EQ(started, 1);
}
