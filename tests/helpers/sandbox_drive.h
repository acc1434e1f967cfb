#pragma once

#include <string>

#include "records/target_disk.h"

// For tests that run inside scripts/sandbox (tests/CMakeLists.txt starts
// them there): its drive is a loop device named diskN by its disk sequence,
// and the stand-in disk utility at the utility's fixed path describes it as
// an external USB drive. Everything throws std::runtime_error outside.

// "diskN".
std::string sandboxDisk();
// The loop device ("/dev/loopN").
std::string sandboxLoop();
// The drive as the inventory describes it now: a re-attached drive comes
// back with another registry identity.
TargetDisk sandboxTarget();
// The drive's logical block size.
unsigned sandboxSectorSize();
