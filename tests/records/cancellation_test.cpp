#include "records/cancellation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "records/imager_error.h"

using namespace std::chrono_literals;

namespace {

// The outcome of one check: "clear", or the error's text and kind.
std::string checked(const Cancellation& cancellation) {
  try {
    cancellation.check();
    return "clear";
  } catch (const ImagerError& error) {
    return std::string(error.what()) + (error.isCancelled() ? " (cancelled)" : "");
  }
}

}  // namespace

TEST(Cancellation, StartsClearAndStaysSetOnceSet) {
  Cancellation cancellation;
  EXPECT_FALSE(cancellation.stopped());
  EXPECT_EQ(checked(cancellation), "clear");
  cancellation.set();
  EXPECT_TRUE(cancellation.stopped());
  EXPECT_EQ(checked(cancellation), "Operation cancelled. (cancelled)");
  cancellation.set();
  EXPECT_EQ(checked(cancellation), "Operation cancelled. (cancelled)");
}

// The heartbeat sets the flag on its own thread while the job polls it.
TEST(Cancellation, AFlagSetOnAnotherThreadStopsThePoller) {
  Cancellation cancellation;
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    cancellation.set();
  });
  std::string outcome = "clear";
  // Bounded only so that a broken flag cannot hang the suite.
  const auto giveUp = std::chrono::steady_clock::now() + 30s;
  while (outcome == "clear" && std::chrono::steady_clock::now() < giveUp) {
    outcome = checked(cancellation);
  }
  setter.join();
  EXPECT_EQ(outcome, "Operation cancelled. (cancelled)");
}
