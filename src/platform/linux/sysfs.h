#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whole disks as sysfs shows them, under a root that is "/sys" on a running
// system and a fixture tree in tests. Shared by the writer and the disk
// utility: both name a whole disk "disk" followed by its disk sequence number.
namespace Sysfs {

// The text of an attribute file without its final line feed; nothing when it
// cannot be read.
std::optional<std::string> attribute(const std::string& path);

// The number in a whole-disk name "diskN" (letters in either case), N a
// decimal number above 0; nothing for any other text.
std::optional<uint64_t> sequenceOfName(std::string_view name);

struct WholeDisk {
  std::string kernelName;  // "sdb", "mmcblk0"
  uint64_t sequence = 0;   // diskseq
  dev_t device = 0;        // its major:minor
};

// The device number an attribute "major:minor" names.
std::optional<dev_t> parseDevice(std::string_view text);

// The attached whole disk (no "partition" attribute) whose diskseq is
// `sequence`, among the entries of ROOT/class/block; nothing when none is.
std::optional<WholeDisk> wholeDiskBySequence(const std::string& root, uint64_t sequence);

// "/dev/" + the kernel name, where "!" in a kernel name stands for "/".
std::string nodeOf(const std::string& kernelName);

}  // namespace Sysfs
