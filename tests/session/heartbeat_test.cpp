#include "session/heartbeat.h"

#include <gtest/gtest.h>

// The firing as a function of its inputs. On a real channel, on its own
// thread: the e2e cases (pings taken, the silence, the Imager gone).

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

// One read, one second into the lease: is the Imager gone, what stays
// pending, and was the lease renewed?
TEST(HeartbeatFiring, AcceptsOnlyExactPingLines) {
  struct Case {
    const char* name;
    std::string bytes;
    bool gone;
    std::string pending;
    bool renewed;
  } cases[] = {
      {"ping", "ping\n", false, "", true},
      {"several pings, a partial one", "ping\nping\npi", false, "pi", true},
      {"a partial ping", "pin", false, "pin", false},
      {"carriage return", "ping\r\n", true, "", false},
      {"empty line", "\n", true, "", false},
      {"upper case", "PING\n", true, "", false},
      {"leading blank", " ping\n", true, "", false},
      {"NUL inside", std::string("pi\0ng\n", 6), true, "", false},
      {"other line between pings", "ping\nhello\nping\n", true, "", true},
  };
  for (const Case& c : cases) {
    Heartbeat::Lease lease{"", kStart};
    EXPECT_EQ(readBytes(lease, c.bytes, kStart + 1s), c.gone) << c.name;
    EXPECT_EQ(lease.pending, c.pending) << c.name;
    EXPECT_EQ(lease.lastPing, c.renewed ? kStart + 1s : kStart) << c.name;
  }
}

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

TEST(HeartbeatFiring, GivesUpAtTheEndOfTheStreamOrPast1024PendingBytes) {
  Heartbeat::Lease lease{"", kStart};
  EXPECT_TRUE(Heartbeat::fire(lease, nullptr, 0, kStart + 1s));
  Heartbeat::Lease pending{"", kStart};
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(readBytes(pending, std::string(Heartbeat::kReadBytes, 'a'), kStart + 1s));
  EXPECT_EQ(pending.pending.size(), 1024u);
  EXPECT_TRUE(readBytes(pending, "a", kStart + 1s));
  // The limit holds even when the bytes are pings.
  std::string pings;
  while (pings.size() <= Heartbeat::kPendingLimit) pings += "ping\n";
  Heartbeat::Lease flooded{"", kStart};
  EXPECT_TRUE(readBytes(flooded, pings, kStart + 1s));
}
