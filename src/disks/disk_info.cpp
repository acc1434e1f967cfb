#include "disks/disk_info.h"

#include "records/imager_error.h"

DiskInfo DiskInfo::parse(std::string_view bytes) {
  PropertyList list = PropertyList::parse(bytes);
  if (!list.root().isDictionary()) throw ImagerError::message("Invalid system information.");
  return DiskInfo(std::move(list));
}
