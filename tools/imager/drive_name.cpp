#include "drive_name.h"

#include <cstdio>
#include <stdexcept>

#include "disks/protected_disks.h"
#include "support/patterns.h"

std::string wholeDiskName(const std::string& drive) {
  if (isWholeDiskName(drive)) return drive;
  const std::string node = drive.starts_with("/") ? drive : "/dev/" + drive;
  const DiskInfo info = DiskInventory::info(node);
  const auto name = info.string("DeviceIdentifier");
  if (info.boolean("WholeDisk") != true || !name || !isWholeDiskName(*name))
    throw std::runtime_error(drive + " is not a whole drive (see: imager list).");
  std::fprintf(stderr, "%s is %s.\n", node.c_str(), name->c_str());
  return *name;
}
