#pragma once

#include <set>
#include <stdexcept>
#include <string>

#include "block_devices.h"
#include "kernel_view.h"

// The three questions the writer asks, answered from the kernel. Each
// returns what to print on success and throws Failure with the text for
// standard error otherwise.
class DiskUtility {
 public:
  struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
  };

  explicit DiskUtility(KernelView kernel)
      : kernel_(std::move(kernel)), devices_(kernel_.sys) {}

  // "list -plist external physical": WholeDisks, the physical whole disks on
  // a USB or SD bus, numbered up to 99999, that nothing holds (dm-crypt,
  // LVM, md) and that carry no active swap.
  std::string listExternalPhysical() const;
  // "info -plist X": X is a disk name ("disk7", "disk7s1", "/dev/disk7"), a
  // block device node ("/dev/sdb"), or any other path, answered for the
  // volume that holds it.
  std::string info(const std::string& what) const;
  // "unmountDisk X": every mount of the disk and its partitions visible here,
  // deepest first, never detached lazily.
  std::string unmountDisk(const std::string& what) const;

 private:
  std::string deviceInfo(const BlockDevices::Device& device, bool asStore) const;
  std::string volumeInfo(const std::string& path) const;
  std::set<std::string> swapDisks() const;
  BlockDevices::Device named(const std::string& what) const;

  KernelView kernel_;
  BlockDevices devices_;
};
