#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Block devices as sysfs lays them out under a root ("/sys" or a fixture).
// Whole disks are named "disk" + their disk sequence number, partitions
// "diskNsP" with P the partition's number, and "diskNs0" stands for the whole
// disk N where a volume lies on several disks and one of them has no
// partition table.
class BlockDevices {
 public:
  explicit BlockDevices(std::string sys) : sys_(std::move(sys)) {}

  struct Device {
    std::string kernelName;   // "sdb1"
    std::string wholeDisk;    // its whole disk's kernel name ("sdb"; itself for a disk)
    unsigned partition = 0;   // 0 for a whole disk
  };

  // The device with this major:minor, or nothing.
  std::optional<Device> byNumber(dev_t device) const;
  // The device with this kernel name, or nothing.
  std::optional<Device> byKernelName(const std::string& name) const;
  // The device named "diskN", "diskNsP" or "diskNs0" (see above), or nothing.
  std::optional<Device> byName(const std::string& name) const;
  // The name of a device; nothing when its disk has no sequence number.
  std::optional<std::string> nameOf(const Device& device) const;

  // The kernel names of all whole disks, in the order of their names.
  std::vector<std::string> wholeDisks() const;
  std::vector<std::string> partitionsOf(const std::string& disk) const;
  // The devices this one is built on (dm, md), or that hold it.
  std::vector<std::string> slavesOf(const std::string& name) const;
  std::vector<std::string> holdersOf(const std::string& name) const;
  // A loop device's backing file, or nothing.
  std::optional<std::string> backingFileOf(const std::string& disk) const;
  std::optional<dev_t> numberOf(const std::string& name) const;
  std::optional<uint64_t> sequenceOf(const std::string& disk) const;

  // What a whole disk is, as the utility reports it.
  struct Facts {
    bool physical = false;
    bool external = false;
    bool writable = false;
    uint64_t bytes = 0;
    std::string bus;        // "USB", "SD", or the internal kind
    std::string mediaName;  // empty when the device names nothing
  };
  Facts factsOf(const std::string& disk) const;

  const std::string& root() const { return sys_; }
  // The names in a directory, sorted, without those starting with a dot.
  static std::vector<std::string> entriesOf(const std::string& path);

 private:
  std::string classDir(const std::string& name) const { return sys_ + "/class/block/" + name; }
  std::string sys_;
};
