#pragma once

#include <string>
#include <vector>

#include "records/target_disk.h"

// The drives as a table for people, one line each after a heading, sorted
// by disk number: disk, size in GB, bus, name. A line saying so when there
// are none.
std::string driveTable(std::vector<TargetDisk> disks);
