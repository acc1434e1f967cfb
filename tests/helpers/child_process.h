#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// What a finished child process left behind.
struct ChildResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  int signal = 0;       // the signal that ended it, if any
  std::string out;
  std::string err;
};

// Runs argv[0] with `argv` and an empty environment, as `uid` when given,
// collecting both output streams; kills it when it outlives `timeout`.
ChildResult runProcess(const std::vector<std::string>& argv, std::optional<uid_t> uid = std::nullopt,
                       std::chrono::milliseconds timeout = std::chrono::seconds(30));
