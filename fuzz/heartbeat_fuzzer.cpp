// The heartbeat's line handling over a sequence of firings, each with what
// one read of the channel returned and the time since the previous firing.
//
// Input: records of a control byte, a length byte and the read's bytes.
// Control bit 0: the read found nothing (-1); bit 1: the end of the stream
// (0); otherwise the read returned (length byte + 1) bytes, at most 256, cut
// at the end of the input. Control bits 2-7: 250 ms steps of time since the
// previous firing (up to 15.75 s, past the silence limit).

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session/heartbeat.h"

using Heartbeat::Clock;
using namespace std::chrono_literals;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// The heartbeat as a plain model: the lines in `bytes` and what they mean.
struct Lines {
  bool ping = false;     // at least one complete "ping" line
  bool other = false;    // at least one complete line that is not "ping"
  std::string_view rest; // after the last line feed
};

Lines splitLines(std::string_view bytes) {
  Lines lines;
  for (auto end = bytes.find('\n'); end != bytes.npos; end = bytes.find('\n')) {
    (bytes.substr(0, end) == "ping" ? lines.ping : lines.other) = true;
    bytes.remove_prefix(end + 1);
  }
  lines.rest = bytes;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Clock::time_point now = Clock::time_point() + 1h;
  Heartbeat::Lease lease{{}, now};
  Clock::time_point lastPing = now;
  std::size_t at = 0;
  while (at + 2 <= size) {
    const uint8_t control = data[at];
    const std::size_t wanted = std::size_t{data[at + 1]} + 1;
    at += 2;
    now += (control >> 2) * 250ms;
    const char* bytes = reinterpret_cast<const char*>(data + at);
    ssize_t received = -1;
    if ((control & 3) == 2) received = 0;
    if ((control & 3) == 0) {
      if (at == size) break;  // a read returns at least one byte
      received = static_cast<ssize_t>(std::min({wanted, size - at, Heartbeat::kReadBytes}));
      at += static_cast<std::size_t>(received);
    }
    std::string seen = lease.pending;
    if (received > 0) seen.append(bytes, static_cast<std::size_t>(received));
    const bool gone = Heartbeat::fire(lease, bytes, received, now);

    // The Imager is gone on an end of stream, on any line but "ping", on a
    // flood, and after more than ten silent seconds, and only then; complete
    // lines are taken and the rest stays pending. The handler goes on firing
    // after that, as it does in the writer.
    const Lines lines = splitLines(received > 0 ? std::string_view(seen) : std::string_view());
    if (lines.ping) lastPing = now;
    require(lease.lastPing == lastPing);
    require(lease.pending == (received > 0 ? lines.rest : std::string_view(seen)));
    const bool expected = received == 0 || lines.other ||
                          (received > 0 && seen.size() > Heartbeat::kPendingLimit) ||
                          now - lastPing > Heartbeat::kSilenceLimit;
    require(gone == expected);
  }
  return 0;
}
