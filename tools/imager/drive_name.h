#pragma once

#include <string>
#include <string_view>

// A drive as a person typed it.
struct DriveName {
  std::string disk;        // the whole disk meant, e.g. "disk4"; empty when none
  bool partition = false;  // `typed` named a partition of `disk` ("disk4s1")
};

// "disk4", "/dev/disk4", "rdisk4" and "/dev/rdisk4" all mean disk4; a
// partition such as "disk4s1" names its whole disk with `partition` set.
// The one place that knows the forms of a drive's name.
DriveName parseDriveName(std::string_view typed);

// What a device name or node ("sdb", "/dev/sdb1") names, as the disk utility
// knows it: the way a Linux user names a drive. Empty when the utility knows
// no disk there.
DriveName driveOfNode(std::string_view typed);
