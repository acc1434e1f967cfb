#pragma once

#include <string>

#include "records/target_disk.h"

// For tests that run inside scripts/sandbox (tests/CMakeLists.txt starts
// them there): its drive is a loop device named diskN by its disk sequence,
// which the disk utility describes as an external USB drive.

// The sandbox's variable SANDBOX_`name` (DISK "diskN", DEVICE and DEVICE2
// the loop devices of its drives, SECTOR_SIZE); throws std::runtime_error
// outside the sandbox.
std::string sandbox(const std::string& name);
// The drive as the inventory describes it.
TargetDisk sandboxTarget();
