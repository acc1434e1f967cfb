#include "session/heartbeat.h"

#include <gtest/gtest.h>

#include <vector>

// The firing alone, at the edges of its rules; on a real channel, on its own
// thread: the e2e cases (pings taken, the silence, the Imager gone).

using namespace std::chrono_literals;
using Heartbeat::Clock;

namespace {

const Clock::time_point kStart = Clock::time_point() + 1h;

// One read of the channel, `after` the start: its bytes, or nothing (-1) or
// the end (0).
struct Read {
  Read(const char* text, Clock::duration at = 0s) : Read(std::string(text), at) {}
  Read(std::string text, Clock::duration at = 0s)
      : bytes(std::move(text)), received(static_cast<ssize_t>(bytes.size())), after(at) {}
  Read(int result, Clock::duration at = 0s) : received(result), after(at) {}
  std::string bytes;
  ssize_t received;
  Clock::duration after;
};

}  // namespace

// Each row's reads in turn: whether the last firing gives up, and what stays
// pending then. Ten seconds without a ping are allowed, not a millisecond
// more; a ping split over two reads counts when its line feed arrives.
TEST(Heartbeat, TakesOnlyPingLinesWithinItsLimits) {
  const std::string kilobyte(1024, 'p');
  const struct {
    const char* name;
    std::vector<Read> reads;
    bool gone;
    std::string pending;
  } cases[] = {
      {"a ping", {"ping\n"}, false, ""},
      {"pings and the start of one", {"ping\nping\npi"}, false, "pi"},
      {"nothing read", {-1}, false, ""},
      {"the end of the stream", {"ping\n", 0}, true, ""},
      {"another line", {"pong\n"}, true, ""},
      {"a carriage return", {"ping\r\n"}, true, ""},
      {"an empty line", {"ping\n\n"}, true, ""},
      {"1024 bytes pending", {kilobyte}, false, kilobyte},
      {"1025 bytes pending", {kilobyte, "p"}, true, kilobyte + "p"},
      {"ten silent seconds", {{-1, 10s}}, false, ""},
      {"a millisecond more", {{-1, 10s + 1ms}}, true, ""},
      {"a ping renews the lease", {{"ping\n", 9s}, {-1, 19s}}, false, ""},
      {"a split ping counts at its line feed",
       {{"pi", 9s}, {"ng\n", 9500ms}, {-1, 19500ms}}, false, ""},
      {"half a ping does not", {{"pi", 9s}, {-1, 10s + 1ms}}, true, "pi"},
  };
  for (const auto& c : cases) {
    Heartbeat::Lease lease{"", kStart};
    bool gone = false;
    for (const Read& read : c.reads)
      gone = Heartbeat::fire(lease, read.bytes.data(), read.received, kStart + read.after);
    EXPECT_EQ(gone, c.gone) << c.name;
    EXPECT_EQ(lease.pending, c.pending) << c.name;
  }
}
