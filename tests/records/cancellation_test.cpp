#include "records/cancellation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "records/imager_error.h"

using namespace std::chrono_literals;

// The heartbeat sets the flag on its own thread while the job polls it; once
// set it stays set.
TEST(Cancellation, AFlagSetOnAnotherThreadStopsThePoller) {
  Cancellation cancellation;
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    cancellation.set();
  });
  // Bounded only so that a broken flag cannot hang the suite.
  const auto giveUp = std::chrono::steady_clock::now() + 30s;
  std::string outcome = "clear";
  while (outcome == "clear" && std::chrono::steady_clock::now() < giveUp) {
    try {
      cancellation.check();
    } catch (const ImagerError& error) {
      outcome = std::string(error.what()) + (error.isCancelled() ? " (cancelled)" : "");
    }
  }
  setter.join();
  EXPECT_EQ(outcome, "Operation cancelled. (cancelled)");
  cancellation.set();
  EXPECT_TRUE(cancellation.stopped());
}
