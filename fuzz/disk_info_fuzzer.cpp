// The disk-information logic on hostile property lists: the bytes parsed as
// one disk's information, judged as a write target and resolved to the
// physical disks behind it as a volume.
//
// The lookup answers from the same input: the information of an identifier
// is the dictionary under that identifier in the input's "Lookups"
// dictionary; any other identifier cannot be looked up.

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "disks/candidate.h"
#include "disks/disk_info.h"
#include "disks/protected_disks.h"
#include "records/imager_error.h"
#include "support/patterns.h"
#include "support/unicode_text.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

struct FreePlist {
  void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, FreePlist>;

// The binary property list of the input's "Lookups" entry for `identifier`.
std::string lookupEntry(std::string_view input, const std::string& identifier) {
  plist_t parsed = nullptr;
  // The two parsers whose signatures every libplist release shares.
  const auto size = static_cast<uint32_t>(input.size());
  if (input.substr(0, 8) == "bplist00") plist_from_bin(input.data(), size, &parsed);
  else plist_from_xml(input.data(), size, &parsed);
  const Plist root(parsed);
  plist_t lookups = root && plist_get_node_type(root.get()) == PLIST_DICT
                        ? plist_dict_get_item(root.get(), "Lookups")
                        : nullptr;
  plist_t entry = lookups && plist_get_node_type(lookups) == PLIST_DICT
                      ? plist_dict_get_item(lookups, identifier.c_str())
                      : nullptr;
  if (entry == nullptr || plist_get_node_type(entry) != PLIST_DICT)
    throw ImagerError::message("No such disk.");
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(entry, &bytes, &length);
  if (bytes == nullptr) throw ImagerError::message("No such disk.");
  const std::string out(bytes, length);
  free(bytes);
  return out;
}

void judgeAsTarget(const DiskInfo& info) {
  // No protection known, or no registry identity, refuses every disk.
  require(!DiskInventory::candidate(info, {}, 7));
  require(!DiskInventory::candidate(info, {"disk9"}, std::nullopt));
  const auto target = DiskInventory::candidate(info, {"disk9"}, 7);
  if (!target) return;
  require(isShortWholeDiskName(target->bsd) && target->bsd != "disk9");
  require(target->capacity > 0 && target->capacity == info.number("TotalSize"));
  require(target->registryID == 7 && target->bus == info.string("BusProtocol"));
  require(!target->name.empty() && toValidUtf8(target->name) == target->name);
}

void resolveAsVolume(const DiskInfo& volume, std::string_view input) {
  int lookups = 0;
  const DiskLookup lookup = [&](const std::string& identifier) {
    ++lookups;
    return DiskInfo::parse(lookupEntry(input, identifier));
  };
  try {
    const std::set<std::string> disks = DiskInventory::physicalStores(volume, lookup);
    require(!disks.empty());
    for (const std::string& disk : disks) require(isWholeDiskName(disk));
  } catch (const ImagerError&) {
  } catch (const PropertyListError&) {
    // What a lookup may throw: libplist does not always read back what it
    // wrote (keys that are not UTF-8, for one).
  }
  // One lookup per physical store at most, or one for a plain volume.
  const PlistValue stores = volume["APFSPhysicalStores"];
  require(static_cast<std::size_t>(lookups) <= (stores.size() > 0 ? stores.size() : 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::optional<DiskInfo> info;
  try {
    info.emplace(DiskInfo::parse(input));
  } catch (const PropertyListError&) {
    return 0;
  } catch (const ImagerError&) {
    return 0;
  }
  judgeAsTarget(*info);
  resolveAsVolume(*info, input);
  return 0;
}
