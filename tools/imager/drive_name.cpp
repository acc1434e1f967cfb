#include "drive_name.h"

#include <optional>

#include "disks/protected_disks.h"
#include "support/patterns.h"

DriveName parseDriveName(std::string_view typed) {
  std::string_view name = typed;
  if (name.starts_with("/dev/")) name.remove_prefix(5);
  if (name.starts_with("rdisk")) name.remove_prefix(1);
  if (isShortWholeDiskName(name)) return {std::string(name), false};
  if (isPartitionName(name)) {
    const std::string_view whole = name.substr(0, name.rfind('s'));
    if (isShortWholeDiskName(whole)) return {std::string(whole), true};
  }
  return {};
}

DriveName driveOfNode(std::string_view typed) {
  std::string_view name = typed;
  if (name.starts_with("/dev/")) name.remove_prefix(5);
  // Only a node directly in /dev: anything else is no drive's name.
  if (name.empty() || name.find('/') != std::string_view::npos || name.starts_with(".")) return {};
  std::optional<DiskInfo> info;
  try {
    info = DiskInventory::info("/dev/" + std::string(name));
  } catch (const std::exception&) {
    return {};
  }
  const auto identifier = info->string("DeviceIdentifier");
  if (!identifier) return {};
  if (info->boolean("WholeDisk") == true && isShortWholeDiskName(*identifier))
    return {*identifier, false};
  const auto parent = info->string("ParentWholeDisk");
  if (parent && isShortWholeDiskName(*parent)) return {*parent, true};
  return {};
}
