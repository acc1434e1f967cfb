#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/target_disk.h"
#include "support/unique_fd.h"

// The system's disk utility; the program never runs any other.
inline constexpr const char* kDiskUtility = "/usr/sbin/diskutil";

// Limits of every "info" and "list" run of the disk utility.
inline constexpr double kDiskQuerySeconds = 15.0;
inline constexpr int64_t kDiskQueryBytes = 2097152;

// Which disks may be written, established afresh on every call. The
// `utility` parameters exist for tests; the writer always uses the default.
namespace DiskInventory {

// The external, physical, writable whole disks on an accepted bus that hold
// none of the system's volumes, the current user's home, or `extraProtectedPaths`.
// Throws on any failure; never returns a partial list.
std::vector<TargetDisk> list(const std::vector<std::string>& extraProtectedPaths,
                             const std::string& utility = kDiskUtility);

// Opens the raw device of `target` exclusively and proves it is that disk:
// same node, same capacity, same registry identity. The returned descriptor
// blocks and reads the medium. Throws "Cannot lock the drive. Close apps
// using it, reconnect it and retry." or "Final device identity or capacity
// changed."; no descriptor is left open on failure.
UniqueFd openFinal(const TargetDisk& target);

// The registry identity of a whole disk, or nothing.
std::optional<uint64_t> registryID(const std::string& bsd);

}  // namespace DiskInventory
