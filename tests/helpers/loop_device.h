#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "helpers/temp_dir.h"
#include "support/unique_fd.h"

// A loop device over a backing file of its own (`bytes` long, every byte
// `fill`), with `sectorSize`-byte logical blocks, attached at whatever number
// is free. Only this device is ever detached: on destruction, or by the
// kernel (autoclear) if the process dies first. Needs root; throws
// std::runtime_error.
class LoopDevice {
 public:
  explicit LoopDevice(uint64_t bytes, unsigned sectorSize = 512, uint8_t fill = 0);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& path() const { return path_; }  // "/dev/loopN"
  dev_t device() const { return device_; }
  // Written behind the device's back to change what a read-back sees.
  const std::string& backing() const { return backing_; }
  // The device opened the way the job holds its target:
  // O_RDWR | O_DIRECT | O_CLOEXEC.
  int fd() const { return direct_.get(); }
  // The kernel's sequence number of the attached disk.
  uint64_t diskseq() const;
  // Detaches and attaches the same file again, perhaps at another number.
  void reattach();

 private:
  void attach();
  void detach();

  TempDir dir_;
  std::string backing_;
  unsigned sectorSize_;
  std::string path_;
  dev_t device_ = 0;
  UniqueFd attached_;  // the descriptor the device was configured through
  UniqueFd direct_;
};
