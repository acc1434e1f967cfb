#include "session/heartbeat.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "support/unique_fd.h"

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

// One read, one second into the lease: is the Imager gone, and what stays
// pending?
TEST(HeartbeatFiring, AcceptsOnlyExactPingLines) {
  struct Case {
    const char* name;
    std::string bytes;
    bool gone;
    std::string pending;
  } cases[] = {
      {"ping", "ping\n", false, ""},
      {"several pings, a partial one", "ping\nping\npi", false, "pi"},
      {"a partial ping", "pin", false, "pin"},
      {"carriage return", "ping\r\n", true, ""},
      {"empty line", "\n", true, ""},
      {"other text", "pong\n", true, ""},
      {"upper case", "PING\n", true, ""},
      {"leading blank", " ping\n", true, ""},
      {"invalid UTF-8", "p\xffing\n", true, ""},
      {"NUL inside", std::string("pi\0ng\n", 6), true, ""},
      {"other line between pings", "ping\nhello\nping\n", true, ""},
  };
  for (const Case& c : cases) {
    Heartbeat::Lease lease{"", kStart};
    EXPECT_EQ(readBytes(lease, c.bytes, kStart + 1s), c.gone) << c.name;
    EXPECT_EQ(lease.pending, c.pending) << c.name;
  }
}

TEST(HeartbeatFiring, EveryPingRenewsTheLease) {
  Heartbeat::Lease lease{"", kStart};
  EXPECT_FALSE(readBytes(lease, "ping\nping\n", kStart + 4s));
  EXPECT_EQ(lease.lastPing, kStart + 4s);
  EXPECT_FALSE(readNothing(lease, kStart + 14s));
  EXPECT_TRUE(readNothing(lease, kStart + 14s + 1ms));
}

// Two letters in one firing, the rest in the next: one ping, counted when
// its line feed arrives.
TEST(HeartbeatFiring, JoinsAPingSplitOverTwoReads) {
  Heartbeat::Lease lease{"", kStart};
  EXPECT_FALSE(readBytes(lease, "pi", kStart + 9s));
  EXPECT_EQ(lease.lastPing, kStart);
  EXPECT_FALSE(readBytes(lease, "ng\n", kStart + 9500ms));
  EXPECT_EQ(lease.lastPing, kStart + 9500ms);
  EXPECT_EQ(lease.pending, "");
  EXPECT_FALSE(readNothing(lease, kStart + 19s));
}

TEST(HeartbeatFiring, GivesUpAfterMoreThanTenSilentSeconds) {
  Heartbeat::Lease lease{"", kStart};
  EXPECT_FALSE(readNothing(lease, kStart + 10s));
  EXPECT_TRUE(readNothing(lease, kStart + 10s + 1ms));
  // A partial line is no ping.
  Heartbeat::Lease partial{"", kStart};
  EXPECT_TRUE(readBytes(partial, "pin", kStart + 11s));
}

TEST(HeartbeatFiring, GivesUpAtTheEndOfTheStream) {
  Heartbeat::Lease lease{"", kStart};
  EXPECT_FALSE(readBytes(lease, "ping\n", kStart + 1s));
  EXPECT_TRUE(Heartbeat::fire(lease, nullptr, 0, kStart + 1s));
}

TEST(HeartbeatFiring, GivesUpOnMoreThan1024PendingBytes) {
  Heartbeat::Lease lease{"", kStart};
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(readBytes(lease, std::string(Heartbeat::kReadBytes, 'a'), kStart + 1s));
  EXPECT_EQ(lease.pending.size(), 1024u);
  EXPECT_TRUE(readBytes(lease, "a", kStart + 1s));
  // The limit holds even when the bytes are pings, which are still taken.
  std::string pings;
  while (pings.size() <= Heartbeat::kPendingLimit) pings += "ping\n";
  Heartbeat::Lease flooded{"", kStart};
  EXPECT_TRUE(readBytes(flooded, pings, kStart + 1s));
  EXPECT_EQ(flooded.lastPing, kStart + 1s);
  EXPECT_EQ(flooded.pending, "");
}

// The heartbeat on a real channel: it sets the flag, and only reads.
class HeartbeatChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    writer_.reset(pair[0]);
    imager_.reset(pair[1]);
    timer_ = Heartbeat::start(writer_.get(), cancellation_);
  }
  void TearDown() override { timer_->cancel(); }

  bool stoppedWithin(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!cancellation_->stopped() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    return cancellation_->stopped();
  }

  void send(const std::string& bytes) {
    ASSERT_EQ(::send(imager_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  UniqueFd writer_, imager_;
  std::shared_ptr<Cancellation> cancellation_ = std::make_shared<Cancellation>();
  std::unique_ptr<Platform::RepeatingTimer> timer_;
};

TEST_F(HeartbeatChannel, StopsWhenTheImagerCloses) {
  imager_.reset();
  EXPECT_TRUE(stoppedWithin(5s));
}

TEST_F(HeartbeatChannel, StopsOnAnyOtherLine) {
  send("ping\nhello\n");
  EXPECT_TRUE(stoppedWithin(5s));
}

// Pings over several firings leave the flag clear, and nothing is ever
// written back.
TEST_F(HeartbeatChannel, TakesPingsSilently) {
  for (int i = 0; i < 10; ++i) {
    send("ping\n");
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_FALSE(cancellation_->stopped());
  char byte;
  EXPECT_EQ(recv(imager_.get(), &byte, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, EAGAIN);
}
