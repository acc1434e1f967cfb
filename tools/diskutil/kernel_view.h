#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What the disk utility reads of the running kernel. The system's own view
// reads /sys, /proc/self/mountinfo, /proc/swaps and statx; tests build one
// over a fixture tree and fixed texts. Never filled from the environment.
struct KernelView {
  std::string sys = "/sys";
  std::string mountInfo;  // the text of /proc/self/mountinfo
  std::string swaps;      // the text of /proc/swaps
  // The mount id of the mount that holds `path`, links resolved.
  std::function<std::optional<uint64_t>(const std::string& path)> mountIdOf;
  // The device a block-device node names (st_rdev); nothing for any other file.
  std::function<std::optional<dev_t>(const std::string& path)> nodeDevice;

  // The running system's view. Throws std::system_error when /proc cannot be read.
  static KernelView system();
};
