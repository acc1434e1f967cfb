#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "disks/disk_info.h"
#include "records/target_disk.h"

namespace DiskInventory {

// Buses a target may sit on, compared exactly.
inline constexpr const char* kAcceptedBuses[] = {"USB", "Secure Digital", "SD"};

// The target a whole disk offers, or nothing when any test fails: a short
// whole-disk identifier, whole, known to be external, physical, writable,
// with a size, on an accepted bus, with a registry identity, and not in
// `protectedDisks` (an empty set refuses every disk). Never throws.
std::optional<TargetDisk> candidate(const DiskInfo& info,
                                    const std::set<std::string>& protectedDisks,
                                    std::optional<uint64_t> identity);

// The name shown for a disk: its media name cut to 160 user-perceived
// characters, or "External drive" when it has none.
std::string displayName(const DiskInfo& info);

}  // namespace DiskInventory
