#pragma once

#include <nlohmann/json.hpp>

#include "disks/disk_info.h"

// Disk information parsed from `value` written as an XML property list, the
// way a disk utility prints it: objects become dictionaries,
// arrays arrays, strings strings, booleans booleans, integers integers and
// other numbers reals.
DiskInfo diskInfo(const nlohmann::json& value);
