#pragma once

#include <string>

#include "records/target_disk.h"

// For tests that tests/CMakeLists.txt starts inside scripts/sandbox: its
// variable SANDBOX_`name` (DISK "diskN", DEVICE and DEVICE2 the loop devices
// of its drives, SECTOR_SIZE), and its drive as the inventory describes it,
// an external USB drive. Both throw std::runtime_error outside the sandbox.
std::string sandbox(const std::string& name);
TargetDisk sandboxTarget();
