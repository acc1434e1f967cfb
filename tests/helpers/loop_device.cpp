#include "helpers/loop_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "helpers/child_process.h"

namespace {
constexpr const char* kLosetup = "/usr/sbin/losetup";
}

LoopDevice::LoopDevice(uint64_t bytes, unsigned sectorSize)
    : file_(dir_.file("disk.img")), sectorSize_(sectorSize) {
  writeFile(file_, "");
  if (truncate(file_.c_str(), static_cast<off_t>(bytes)) != 0)
    throw std::runtime_error("cannot size " + file_);
  attach();
}

LoopDevice::~LoopDevice() { detach(); }

void LoopDevice::attach() {
  const ChildResult result = runProcess(
      {kLosetup, "--find", "--show", "--sector-size", std::to_string(sectorSize_), file_});
  if (result.exitStatus != 0) throw std::runtime_error("losetup failed: " + result.err);
  path_ = result.out.substr(0, result.out.find('\n'));
  struct stat st{};
  if (stat(path_.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
    throw std::runtime_error("no block device at " + path_);
  device_ = st.st_rdev;
}

void LoopDevice::detach() {
  if (!path_.empty()) runProcess({kLosetup, "-d", path_});
  path_.clear();
}

void LoopDevice::reattach() {
  detach();
  attach();
}

uint64_t LoopDevice::diskseq() const {
  std::ifstream in("/sys/dev/block/" + std::to_string(major(device_)) + ":" +
                   std::to_string(minor(device_)) + "/diskseq");
  uint64_t sequence = 0;
  in >> sequence;
  return sequence;
}
