#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "records/cancellation.h"

// Watches the Imager's "ping" lines on the channel and sets the stop flag when
// the Imager closes the channel, sends anything else, floods it or falls
// silent. It only reads the channel and only sets the flag.
namespace Heartbeat {

using Clock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds kPeriod{200};
inline constexpr std::chrono::seconds kSilenceLimit{10};
inline constexpr std::size_t kReadBytes = 256;
inline constexpr std::size_t kPendingLimit = 1024;

// What the heartbeat carries from one firing to the next.
struct Lease {
  std::string pending;  // bytes after the last line feed seen
  Clock::time_point lastPing;
};

// One firing, given what the read of the channel returned: `received` bytes
// of `bytes` when positive, the end of the stream when 0, nothing when
// negative. Consumes complete lines, renews the lease on each exact "ping"
// and returns true when the Imager is to be treated as gone.
bool fire(Lease& lease, const char* bytes, ssize_t received, Clock::time_point now);

// Starts reading the non-blocking channel `fd` at once and every kPeriod,
// setting `cancellation` when `fire` says so. The lease starts now. Cancel or
// destroy the timer only on the way out; `fd` must stay open until then.
std::unique_ptr<Platform::RepeatingTimer> start(int fd, std::shared_ptr<Cancellation> cancellation);

}  // namespace Heartbeat
