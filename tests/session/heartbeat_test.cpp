#include "session/heartbeat.h"

#include <gtest/gtest.h>

// The firing at the edges of the clock. Which lines it takes, what stays
// pending and the flood limit: the heartbeat fuzz target's model of it; on a
// real channel, on its own thread: the e2e cases (pings taken, the silence,
// the Imager gone).

using namespace std::chrono_literals;
using Heartbeat::Clock;

namespace {

const Clock::time_point kStart = Clock::time_point() + 1h;

bool readBytes(Heartbeat::Lease& lease, const std::string& bytes, Clock::time_point now) {
  return Heartbeat::fire(lease, bytes.data(), static_cast<ssize_t>(bytes.size()), now);
}

bool readNothing(Heartbeat::Lease& lease, Clock::time_point now) {
  return Heartbeat::fire(lease, nullptr, -1, now);
}

}  // namespace

// Ten seconds without a ping are allowed, not one millisecond more; a ping
// split over two reads counts when its line feed arrives.
TEST(HeartbeatFiring, GivesUpAfterMoreThanTenSilentSeconds) {
  Heartbeat::Lease lease{"", kStart};
  EXPECT_FALSE(readNothing(lease, kStart + 10s));
  EXPECT_FALSE(readBytes(lease, "pi", kStart + 10s));
  EXPECT_TRUE(readNothing(lease, kStart + 10s + 1ms));
  Heartbeat::Lease split{"", kStart};
  EXPECT_FALSE(readBytes(split, "pi", kStart + 9s));
  EXPECT_FALSE(readBytes(split, "ng\n", kStart + 9500ms));
  EXPECT_FALSE(readNothing(split, kStart + 19500ms));
  EXPECT_TRUE(readNothing(split, kStart + 19501ms));
}
