#pragma once

#include <cstdint>
#include <string>

#include "support/unique_fd.h"

// A loop device over a new backing file of `bytes` bytes filled with `fill`,
// with `sectorSize`-byte logical blocks. fd() is open the way the job holds
// its target: O_RDWR | O_DIRECT | O_CLOEXEC. The device is detached when the
// object goes, and by the kernel (autoclear) if the process dies first. Only
// the device attached here is ever detached. Throws std::runtime_error.
class LoopDevice {
 public:
  LoopDevice(std::string backing, uint64_t bytes, unsigned sectorSize, uint8_t fill);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  int fd() const { return direct_.get(); }
  const std::string& path() const { return path_; }
  // Written behind the device's back to change what a read-back sees.
  const std::string& backing() const { return backing_; }

 private:
  std::string backing_;
  std::string path_;
  UniqueFd attached_;  // the descriptor the device was configured through
  UniqueFd direct_;
};
