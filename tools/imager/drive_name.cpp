#include "drive_name.h"

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
