#include "disks/disk_inventory.h"

#include <unistd.h>

#include "disks/candidate.h"
#include "disks/command.h"
#include "disks/protected_disks.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "support/patterns.h"
#include "support/system_error.h"
#include "support/user_account.h"

namespace {

constexpr std::size_t kMostWholeDisks = 128;

// The identifiers of the external physical whole disks, in listing order.
std::vector<std::string> externalWholeDisks(const std::string& utility) {
  const PropertyList listing = PropertyList::parse(Command::run(
      utility, {"list", "-plist", "external", "physical"}, kDiskQuerySeconds, kDiskQueryBytes));
  if (!listing.root().isDictionary()) throw ImagerError::message("Invalid system information.");
  const PlistValue disks = listing.root()["WholeDisks"];
  if (!disks.isArray() || disks.size() > kMostWholeDisks)
    throw ImagerError::message("Invalid external drive inventory.");
  std::vector<std::string> identifiers;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    auto identifier = disks.at(i).string();
    if (!identifier) throw ImagerError::message("Invalid external drive inventory.");
    identifiers.push_back(std::move(*identifier));
  }
  return identifiers;
}

// The home of the user the writer runs as: the system's own user data.
std::string currentUserHome() {
  const auto home = homeDirectoryOf(geteuid());
  if (!home || home->empty()) throwSystemError(ENOENT);
  return *home;
}

}  // namespace

namespace DiskInventory {

std::vector<TargetDisk> list(const std::vector<std::string>& extraProtectedPaths,
                             int protectedFile, const std::string& utility) {
  std::vector<std::string> paths = Platform::protectedSystemPaths();
  paths.push_back(currentUserHome());
  paths.insert(paths.end(), extraProtectedPaths.begin(), extraProtectedPaths.end());
  const std::set<std::string> protectedSet = protectedDisks(paths, protectedFile, utility);

  std::vector<TargetDisk> targets;
  for (const std::string& identifier : externalWholeDisks(utility)) {
    if (!isShortWholeDiskName(identifier)) throw ImagerError::message("Invalid device identifier.");
    const DiskInfo disk = info(identifier, utility);
    if (auto target = candidate(disk, protectedSet, registryID(identifier)))
      targets.push_back(std::move(*target));
  }
  return targets;
}

}  // namespace DiskInventory
