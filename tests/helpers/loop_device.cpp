#include "helpers/loop_device.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void fail(std::string_view what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void fillBacking(const std::string& path, uint64_t bytes, uint8_t fill) {
  const UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd) fail("create backing file");
  if (fill == 0) {
    if (::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) fail("size backing file");
    return;
  }
  const std::vector<uint8_t> block(1 << 16, fill);
  for (uint64_t at = 0; at < bytes; at += block.size()) {
    const auto count = static_cast<std::size_t>(std::min<uint64_t>(block.size(), bytes - at));
    if (::pwrite(fd.get(), block.data(), count, static_cast<off_t>(at)) !=
        static_cast<ssize_t>(count))
      fail("fill backing file");
  }
}

}  // namespace

LoopDevice::LoopDevice(uint64_t bytes, unsigned sectorSize, uint8_t fill)
    : backing_(dir_ / "disk.img"), sectorSize_(sectorSize) {
  fillBacking(backing_, bytes, fill);
  attach();
}

LoopDevice::~LoopDevice() { detach(); }

void LoopDevice::attach() {
  const UniqueFd file(::open(backing_.c_str(), O_RDWR | O_CLOEXEC));
  const UniqueFd control(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
  if (!file || !control) fail("open backing file or /dev/loop-control");
  // Other processes attach loop devices too: a free number can be taken
  // between asking and configuring, which shows as EBUSY.
  for (int attempt = 0; attempt < 100 && !attached_; ++attempt) {
    const int number = ::ioctl(control.get(), LOOP_CTL_GET_FREE);
    if (number < 0) fail("LOOP_CTL_GET_FREE");
    const std::string path = "/dev/loop" + std::to_string(number);
    UniqueFd device(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!device) continue;
    loop_config config{};
    config.fd = static_cast<uint32_t>(file.get());
    config.block_size = sectorSize_;
    config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
    if (::ioctl(device.get(), LOOP_CONFIGURE, &config) == 0) {
      attached_ = std::move(device);
      path_ = path;
    } else if (errno != EBUSY) {
      fail("LOOP_CONFIGURE");
    }
  }
  if (!attached_) throw std::runtime_error("no free loop device");
  struct stat st {};
  if (::fstat(attached_.get(), &st) != 0) fail("fstat " + path_);
  device_ = st.st_rdev;
  direct_.reset(::open(path_.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC));
  if (!direct_) fail("open " + path_ + " with O_DIRECT");
}

void LoopDevice::detach() {
  direct_.reset();
  // With autoclear the kernel detaches once the last descriptor closes; the
  // explicit request makes it so even if someone else still holds it.
  if (attached_) ::ioctl(attached_.get(), LOOP_CLR_FD, 0);
  attached_.reset();
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
