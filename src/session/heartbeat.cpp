#include "session/heartbeat.h"

#include <sys/socket.h>

#include <string_view>

namespace Heartbeat {

bool fire(Lease& lease, const char* bytes, ssize_t received, Clock::time_point now) {
  bool gone = received == 0;
  if (received > 0) {
    lease.pending.append(bytes, static_cast<std::size_t>(received));
    if (lease.pending.size() > kPendingLimit) gone = true;
    std::string_view rest = lease.pending;
    for (auto end = rest.find('\n'); end != rest.npos; end = rest.find('\n')) {
      // Invalid UTF-8 can never spell "ping", so comparing bytes is comparing
      // the decoded text.
      if (rest.substr(0, end) == "ping")
        lease.lastPing = now;
      else
        gone = true;
      rest.remove_prefix(end + 1);
    }
    lease.pending.erase(0, lease.pending.size() - rest.size());
  }
  return gone || now - lease.lastPing > kSilenceLimit;
}

std::unique_ptr<Platform::RepeatingTimer> start(int fd, std::shared_ptr<Cancellation> cancellation) {
  return Platform::startRepeatingTimer(
      kPeriod, [fd, cancellation, lease = Lease{{}, Clock::now()}]() mutable {
        char buffer[kReadBytes] = {};
        // Read errors are not acted on here: a dead peer shows as silence or
        // as a failed send.
        const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
        if (fire(lease, buffer, received, Clock::now())) cancellation->set();
      });
}

}  // namespace Heartbeat
