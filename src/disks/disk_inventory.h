#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "records/target_disk.h"
#include "support/unique_fd.h"

// Limits of every "info" and "list" run of the disk utility.
inline constexpr double kDiskQuerySeconds = 15.0;
inline constexpr int64_t kDiskQueryBytes = 2097152;

// The disk utility is the platform's (Platform::diskUtility); the program
// never runs any other.

// Which disks may be written, established afresh on every call. The
// `utility` parameters exist for tests; the writer always uses the default.
namespace DiskInventory {

// The external, physical, writable whole disks on an accepted bus that hold
// none of the system's volumes, the current user's home,
// `extraProtectedPaths` or the file open on `protectedFile` (-1: none), in
// the utility's order. Throws "Invalid system
// information.", "Invalid external drive inventory." (more than 128 whole
// disks among them), "Invalid device identifier." and every error of
// protectedDisks, info and Command::run; never returns a partial list.
// Disk information and protection: disks/protected_disks.h; the test of one
// disk: disks/candidate.h.
std::vector<TargetDisk> list(const std::vector<std::string>& extraProtectedPaths,
                             int protectedFile = -1, const std::string& utility = Platform::diskUtility());

// Opens the raw device of `target` exclusively and proves it is that disk:
// same node, same capacity, same registry identity. The returned descriptor
// holds the lock, blocks and reads the medium (see
// Platform::prepareForTransfer for the buffers it needs). Throws "Cannot
// lock the drive. Close apps using it, reconnect it and retry." or "Final
// device identity or capacity changed.", or the system's error when the
// transfer mode cannot be set; no descriptor is left open on failure.
UniqueFd openFinal(const TargetDisk& target);

// The registry identity of a whole disk, or nothing.
std::optional<uint64_t> registryID(const std::string& bsd);

}  // namespace DiskInventory
