#pragma once

#include <string>
#include <vector>

#include "image_check.h"
#include "records/target_disk.h"

// The drives named on the command line, each one the writer would accept
// now, in the order given. Throws Refusal (ExitCode::badDrive) for the
// first that is not, saying why: not a drive name, a partition (naming its
// whole disk), no such drive, internal, holding the system or the image,
// virtual, write-protected, on another bus; or for a raw image larger than a
// drive. ExitCode::usage for a drive named twice.
std::vector<TargetDisk> checkDrives(const std::vector<std::string>& typed, const ImageFacts& image);
