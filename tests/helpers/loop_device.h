#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "helpers/temp_dir.h"

// A loop device over a zero-filled file of its own, attached at whatever
// number is free and detached (that device only) on destruction. Needs root.
class LoopDevice {
 public:
  explicit LoopDevice(uint64_t bytes, unsigned sectorSize = 512);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& path() const { return path_; }  // "/dev/loopN"
  dev_t device() const { return device_; }
  // The kernel's sequence number of the attached disk.
  uint64_t diskseq() const;
  // Detaches and attaches the same file again, perhaps at another number.
  void reattach();

 private:
  void attach();
  void detach();

  TempDir dir_;
  std::string file_;
  unsigned sectorSize_;
  std::string path_;
  dev_t device_ = 0;
};
