#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "disks/disk_info.h"

// Property lists written from JSON, the way the stand-in disk utility prints
// them: objects become dictionaries, arrays arrays, strings strings, booleans
// booleans, integers integers and other numbers reals.
std::string plistXml(const nlohmann::json& value);

// Disk information parsed from the XML of `value`.
DiskInfo diskInfo(const nlohmann::json& value);
