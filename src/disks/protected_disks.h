#pragma once

#include <set>
#include <string>
#include <vector>

#include "disks/disk_info.h"
#include "disks/disk_inventory.h"

// The whole physical disks that must never be written: those behind the
// system's volumes and behind any path the caller names. Every fact is a
// fresh run of the disk utility.
namespace DiskInventory {

// "info -plist `identifier`" (a disk identifier or a mount path). Throws
// what Command::run throws, PropertyListError, or "Invalid system
// information.".
DiskInfo info(const std::string& identifier, const std::string& utility = Platform::diskUtility());

// The whole disks behind a volume: the parent disks of its APFS physical
// stores when it has any, otherwise its own whole disk, which must be
// physical. Never empty. Throws "Cannot resolve an APFS backing store.",
// "Cannot resolve a physical disk.", "Cannot establish protected system
// disks.", "Cannot establish physical backing disks." and what `lookup`
// throws.
std::set<std::string> physicalStores(const DiskInfo& volume, const DiskLookup& lookup);

// The union of the whole disks behind the volumes of `paths` and, unless
// `file` is -1, of the volume of the file open on that descriptor (taken from
// the descriptor, so what its path names by now does not matter). Throws the
// platform's error for a path or file that cannot be resolved, "Cannot
// resolve the protected volume." for one on no volume, "System disk
// protection is unavailable." for an empty result, and what the steps above
// throw.
std::set<std::string> protectedDisks(const std::vector<std::string>& paths, int file = -1,
                                     const std::string& utility = Platform::diskUtility());

}  // namespace DiskInventory
