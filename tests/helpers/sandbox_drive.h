#pragma once

#include <string>

#include "records/target_disk.h"

// For tests that run inside scripts/sandbox (tests/CMakeLists.txt starts
// them there): its drive is a loop device named diskN by its disk sequence,
// which the disk utility describes as an external USB drive. Everything
// throws std::runtime_error outside.

// "diskN".
std::string sandboxDisk();
// The loop devices ("/dev/loopN") of the drive and of the second drive.
std::string sandboxLoop();
std::string sandboxSecondLoop();
// The drive as the inventory describes it.
TargetDisk sandboxTarget();
unsigned sandboxSectorSize();
