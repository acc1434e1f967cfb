#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// What a finished child process left behind.
struct ChildResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string output;   // standard output and standard error together
};

// Runs argv[0] with `argv` and an empty environment, as `uid` when given.
ChildResult runProcess(const std::vector<std::string>& argv,
                       std::optional<uid_t> uid = std::nullopt);
