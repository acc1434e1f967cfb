#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "records/target_disk.h"
#include "refusal.h"

// When the writer's stages ended, as the imager saw their events arrive; a
// stage runs from the previous stage's last event to its own last one.
class JobClock {
 public:
  JobClock() : started_(std::chrono::steady_clock::now()) {}

  // Notes that an event of `stage` arrived now.
  void saw(const std::string& stage);

  // One line for the end of a verified write of `bytes` onto `disk`, e.g.
  // "Wrote 1.07 GB to disk4 (Sandbox USB Drive) in 47 s; write 36 MB/s,
  // verify 88 MB/s; verified."
  std::string summary(int64_t bytes, const TargetDisk& disk) const;

 private:
  double seconds(const std::string& from, const std::string& to) const;

  std::chrono::steady_clock::time_point started_;
  std::map<std::string, std::chrono::steady_clock::time_point> lastSeen_;
};

// What a person can do about a failure with this message, or "" when the
// message says it all.
std::string hintFor(const std::string& message);

// The writer's message for people: an empty query result is said as such.
std::string messageFor(const std::string& message);

// The exit status for a writer that ended with an error `message` after
// reaching stage `reached` ("" before any progress).
ExitCode exitCodeFor(const std::string& message, const std::string& reached);
