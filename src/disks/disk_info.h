#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "disks/property_list.h"

// One disk's information: the string-keyed dictionary that one "info" run of
// the disk utility printed. Keys are read by type; a key that is missing or
// holds another type is absent.
class DiskInfo {
 public:
  // Parses the utility's output. Throws PropertyListError when it is not a
  // property list and "Invalid system information." when its top level is
  // not a dictionary.
  static DiskInfo parse(std::string_view bytes);

  PlistValue operator[](const std::string& key) const { return list_.root()[key]; }
  std::optional<std::string> string(const std::string& key) const { return (*this)[key].string(); }
  std::optional<bool> boolean(const std::string& key) const { return (*this)[key].boolean(); }
  std::optional<uint64_t> number(const std::string& key) const { return (*this)[key].number(); }

 private:
  explicit DiskInfo(PropertyList list) : list_(std::move(list)) {}
  PropertyList list_;
};

// The information of a disk identifier or mount path, as the inventory asks
// for it; may throw.
using DiskLookup = std::function<DiskInfo(const std::string& identifier)>;
