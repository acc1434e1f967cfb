#include "disks/candidate.h"

#include <algorithm>
#include <iterator>

#include "disks/disk_inventory.h"
#include "native/ori.h"
#include "platform/platform.h"
#include "support/patterns.h"
#include "support/unicode_text.h"

namespace {

constexpr std::size_t kNameCharacters = 160;

bool acceptedBus(const std::string& bus) {
  return std::find(std::begin(DiskInventory::kAcceptedBuses),
                   std::end(DiskInventory::kAcceptedBuses), bus) !=
         std::end(DiskInventory::kAcceptedBuses);
}

}  // namespace

namespace DiskInventory {

std::string displayName(const DiskInfo& info) {
  const auto name = info.string("MediaName");
  if (!name || name->empty()) return "External drive";
  return prefixGraphemes(toValidUtf8(*name), kNameCharacters);
}

std::optional<TargetDisk> candidate(const DiskInfo& info,
                                    const std::set<std::string>& protectedDisks,
                                    std::optional<uint64_t> identity) {
  const auto bsd = info.string("DeviceIdentifier");
  if (!bsd || !isShortWholeDiskName(*bsd)) return std::nullopt;
  if (info.boolean("WholeDisk") != true) return std::nullopt;
  if (info.boolean("Internal") != false) return std::nullopt;
  if (info.string("VirtualOrPhysical") != "Physical") return std::nullopt;
  if (info.boolean("Writable") != true) return std::nullopt;
  const auto size = info.number("TotalSize");
  if (!size) return std::nullopt;
  const auto bus = info.string("BusProtocol");
  if (!bus || !acceptedBus(*bus)) return std::nullopt;
  if (!identity || *identity == 0) return std::nullopt;
  if (ori_safe_target(protectedDisks.empty() ? 0 : 1, protectedDisks.count(*bsd) ? 1 : 0, 1, 1,
                      *size) != 1)
    return std::nullopt;
  return TargetDisk{*bsd, displayName(info), *size, *identity, *bus};
}

std::optional<uint64_t> registryID(const std::string& bsd) {
  if (!isShortWholeDiskName(bsd)) return std::nullopt;
  return Platform::registryEntryID(bsd);
}

}  // namespace DiskInventory
