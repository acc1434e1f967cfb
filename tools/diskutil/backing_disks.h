#pragma once

#include <set>
#include <stdexcept>
#include <string>

#include "block_devices.h"
#include "kernel_view.h"

// The disks a volume or device lies on, walked down to whole disks that hold
// nothing else: a partition to its disk, dm and md devices to their slaves,
// btrfs to its member devices, a loop device to its backing file's volume,
// an overlay to its layers. A memory file system lies on no disk; it is
// reported on the disk of the root file system, which is protected anyway.
// Whatever cannot be established throws Unresolved: never a partial answer.
struct Unresolved : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One disk the walk ended on, with the partition it went through (empty when
// it reached the whole disk itself).
struct Store {
  std::string disk;       // kernel name of the whole disk
  std::string partition;  // kernel name of the partition, or empty
  auto operator<=>(const Store&) const = default;
};

class BackingDisks {
 public:
  BackingDisks(const KernelView& kernel, const BlockDevices& devices)
      : kernel_(kernel), devices_(devices) {}

  // The stores behind the volume that holds `path`.
  std::set<Store> ofPath(const std::string& path, int depth = 0) const;
  // The stores behind the block device with kernel name `name`.
  std::set<Store> ofDevice(const std::string& name, int depth = 0) const;

 private:
  struct Mount {
    std::string point, device, type, source, options;
  };
  Mount mountHolding(const std::string& path) const;
  std::set<Store> ofMount(const Mount& mount, int depth) const;
  std::set<Store> btrfsMembers(const std::string& source, int depth) const;

  const KernelView& kernel_;
  const BlockDevices& devices_;
};
