#pragma once

#include <string>

// The whole-disk name ("disk42") of what the user typed for a drive: a name
// as it stands, or a kernel name or node ("sdb", "/dev/sdb"), which the disk
// utility names. Says which name a node has on standard error. Throws when
// the utility knows no whole disk there.
std::string wholeDiskName(const std::string& drive);
