#include "disks/protected_disks.h"

#include "disks/command.h"
#include "platform/platform.h"
#include "records/imager_error.h"
#include "support/patterns.h"

namespace {

[[noreturn]] void fail(const char* text) { throw ImagerError::message(text); }

// The APFS branch applies only to a non-empty array of dictionaries.
bool hasPhysicalStores(const PlistValue& stores) {
  if (!stores.isArray() || stores.size() == 0) return false;
  for (std::size_t i = 0; i < stores.size(); ++i)
    if (!stores.at(i).isDictionary()) return false;
  return true;
}

std::set<std::string> apfsParents(const PlistValue& stores, const DiskLookup& lookup) {
  std::set<std::string> disks;
  for (std::size_t i = 0; i < stores.size(); ++i) {
    const auto store = stores.at(i)["APFSPhysicalStore"].string();
    if (!store || !isPartitionName(*store)) fail("Cannot resolve an APFS backing store.");
    const auto parent = lookup(*store).string("ParentWholeDisk");
    if (!parent || !isWholeDiskName(*parent)) fail("Cannot resolve a physical disk.");
    disks.insert(*parent);
  }
  return disks;
}

std::set<std::string> plainWholeDisk(const DiskInfo& volume, const DiskLookup& lookup) {
  const bool whole = volume.boolean("WholeDisk") == true;
  const auto disk = volume.string(whole ? "DeviceIdentifier" : "ParentWholeDisk");
  if (!disk || !isWholeDiskName(*disk)) fail("Cannot establish protected system disks.");
  if (lookup(*disk).string("VirtualOrPhysical") != "Physical")
    fail("Cannot establish physical backing disks.");
  return {*disk};
}

}  // namespace

namespace DiskInventory {

DiskInfo info(const std::string& identifier, const std::string& utility) {
  return DiskInfo::parse(
      Command::run(utility, {"info", "-plist", identifier}, kDiskQuerySeconds, kDiskQueryBytes));
}

std::set<std::string> physicalStores(const DiskInfo& volume, const DiskLookup& lookup) {
  const PlistValue stores = volume["APFSPhysicalStores"];
  return hasPhysicalStores(stores) ? apfsParents(stores, lookup) : plainWholeDisk(volume, lookup);
}

std::set<std::string> protectedDisks(const std::vector<std::string>& paths, int file,
                                     const std::string& utility) {
  const DiskLookup lookup = [&utility](const std::string& identifier) {
    return info(identifier, utility);
  };
  std::set<std::string> disks;
  const auto protect = [&](const std::optional<std::string>& volume) {
    if (!volume) fail("Cannot resolve the protected volume.");
    disks.merge(physicalStores(lookup(*volume), lookup));
  };
  for (const std::string& path : paths) protect(Platform::volumeOf(path));
  if (file != -1) protect(Platform::volumeOfOpenFile(file));
  if (disks.empty()) fail("System disk protection is unavailable.");
  return disks;
}

}  // namespace DiskInventory
