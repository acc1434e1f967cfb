#include "disk_utility.h"

#include <sys/mount.h>

#include <algorithm>
#include <cstring>

#include "backing_disks.h"
#include "platform/linux/mountinfo.h"
#include "platform/linux/sysfs.h"
#include "plist_writer.h"

namespace {

constexpr uint64_t kHighestName = 99999;  // the writer acts on disk1 to disk99999

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return out;
    const std::size_t end = line.find_first_of(" \t", at);
    out.push_back(line.substr(at, end - at));
    if (end == std::string::npos) return out;
    at = end;
  }
}

std::string withoutDev(const std::string& what) {
  return what.rfind("/dev/", 0) == 0 ? what.substr(5) : what;
}

bool isDiskName(const std::string& what) {
  const std::string name = withoutDev(what);
  return name.size() > 4 && strncasecmp(name.c_str(), "disk", 4) == 0 &&
         name[4] >= '0' && name[4] <= '9';
}

}  // namespace

BlockDevices::Device DiskUtility::named(const std::string& what) const {
  std::optional<BlockDevices::Device> device;
  if (isDiskName(what)) {
    device = devices_.byName(withoutDev(what));
  } else if (what.rfind("/", 0) == 0) {
    const auto number = kernel_.nodeDevice(what);
    if (number) device = devices_.byNumber(*number);
  }
  if (!device) throw Failure("Could not find disk: " + what);
  return *device;
}

std::string DiskUtility::deviceInfo(const BlockDevices::Device& device, bool asStore) const {
  const auto name = devices_.nameOf(device);
  const auto disk = devices_.nameOf({device.wholeDisk, device.wholeDisk, 0});
  if (!name || !disk) throw Failure("Could not find disk: " + device.kernelName);
  const BlockDevices::Facts facts = devices_.factsOf(device.wholeDisk);
  PlistDict dict{{"DeviceIdentifier", {*name}},
                 {"KernelName", {device.kernelName}},
                 {"VirtualOrPhysical", {std::string(facts.physical ? "Physical" : "Virtual")}}};
  if (device.partition != 0 || asStore) {
    if (asStore) dict[0] = {"DeviceIdentifier", {*disk + "s0"}};
    dict.push_back({"WholeDisk", {false}});
    dict.push_back({"ParentWholeDisk", {*disk}});
    return xmlPropertyList({dict});
  }
  dict.push_back({"WholeDisk", {true}});
  dict.push_back({"Internal", {!facts.external}});
  dict.push_back({"Writable", {facts.writable}});
  dict.push_back({"TotalSize", {facts.bytes}});
  dict.push_back({"BusProtocol", {facts.bus}});
  if (!facts.mediaName.empty()) dict.push_back({"MediaName", {facts.mediaName}});
  return xmlPropertyList({dict});
}

std::string DiskUtility::volumeInfo(const std::string& path) const {
  std::set<Store> stores;
  try {
    stores = BackingDisks(kernel_, devices_).ofPath(path);
  } catch (const Unresolved& error) {
    throw Failure("Could not find disk: " + path + " (" + error.what() + ")");
  }
  const auto nameOf = [&](const Store& store) {
    const auto device = devices_.byKernelName(store.partition.empty() ? store.disk : store.partition);
    const auto name = device ? devices_.nameOf(*device) : std::nullopt;
    if (!name) throw Failure("Could not find disk: " + path + " (" + store.disk + " has no number)");
    return *name;
  };
  if (stores.size() == 1) {
    const Store& store = *stores.begin();
    if (store.partition.empty())
      return xmlPropertyList({PlistDict{{"DeviceIdentifier", {nameOf(store)}}, {"WholeDisk", {true}}}});
    return xmlPropertyList({PlistDict{{"DeviceIdentifier", {nameOf(store)}},
                                      {"WholeDisk", {false}},
                                      {"ParentWholeDisk", {nameOf({store.disk, ""})}}}});
  }
  // Several disks: each one in the physical-store shape, which the writer
  // takes without asking whether it is physical, so only physical ones pass.
  PlistArray array;
  for (const Store& store : stores) {
    if (!devices_.factsOf(store.disk).physical)
      throw Failure("Could not find disk: " + path + " (" + store.disk + " is not physical)");
    const std::string name = nameOf(store);
    array.push_back({PlistDict{{"APFSPhysicalStore", {store.partition.empty() ? name + "s0" : name}}}});
  }
  return xmlPropertyList({PlistDict{{"APFSPhysicalStores", {array}}}});
}

std::string DiskUtility::info(const std::string& what) const {
  if (isDiskName(what) || kernel_.nodeDevice(what)) {
    const BlockDevices::Device device = named(what);
    // "diskNs0": the whole disk N as one of a volume's several disks.
    const bool asStore = device.partition == 0 && withoutDev(what).find_first_of("sS", 4) !=
                                                      std::string::npos;
    return deviceInfo(device, asStore);
  }
  if (what.rfind("/", 0) != 0) throw Failure("Could not find disk: " + what);
  return volumeInfo(what);
}

std::set<std::string> DiskUtility::swapDisks() const {
  std::set<std::string> disks;
  const BackingDisks backing(kernel_, devices_);
  const std::vector<std::string> all = lines(kernel_.swaps);
  for (std::size_t i = 1; i < all.size(); ++i) {  // after the heading
    const std::vector<std::string> columns = fields(all[i]);
    if (columns.empty()) continue;
    const std::string path = unescapeMountField(columns[0]);
    try {
      const auto number = kernel_.nodeDevice(path);
      const auto device = number ? devices_.byNumber(*number) : std::nullopt;
      for (const Store& store : device ? backing.ofDevice(device->kernelName) : backing.ofPath(path))
        disks.insert(store.disk);
    } catch (const Unresolved& error) {
      throw Failure("Cannot establish the disks of swap " + path + ": " + error.what());
    }
  }
  return disks;
}

std::string DiskUtility::listExternalPhysical() const {
  const std::set<std::string> swap = swapDisks();
  PlistArray disks;
  for (const std::string& disk : devices_.wholeDisks()) {
    const auto sequence = devices_.sequenceOf(disk);
    if (!sequence || *sequence > kHighestName || swap.count(disk)) continue;
    const BlockDevices::Facts facts = devices_.factsOf(disk);
    if (!facts.physical || !facts.external || !devices_.holdersOf(disk).empty()) continue;
    const auto partitions = devices_.partitionsOf(disk);
    if (std::any_of(partitions.begin(), partitions.end(),
                    [&](const std::string& p) { return !devices_.holdersOf(p).empty(); }))
      continue;
    disks.push_back({"disk" + std::to_string(*sequence)});
  }
  return xmlPropertyList({PlistDict{{"WholeDisks", {disks}}}});
}

std::string DiskUtility::unmountDisk(const std::string& what) const {
  const BlockDevices::Device named = this->named(what);
  const std::string disk = devices_.nameOf({named.wholeDisk, named.wholeDisk, 0}).value_or(what);
  std::set<dev_t> numbers;
  for (const std::string& name : devices_.partitionsOf(named.wholeDisk))
    if (const auto number = devices_.numberOf(name)) numbers.insert(*number);
  if (const auto number = devices_.numberOf(named.wholeDisk)) numbers.insert(*number);

  std::vector<std::string> points;
  for (const std::string& line : lines(kernel_.mountInfo)) {
    const std::vector<std::string> columns = fields(line);
    const auto dash = std::find(columns.begin(), columns.end(), "-");
    if (columns.size() < 5 || columns.end() - dash < 3) continue;
    const auto number = Sysfs::parseDevice(columns[2]);
    // btrfs shows a device number of its own; its source names the device.
    const auto source = kernel_.nodeDevice(unescapeMountField(dash[2]));
    if ((number && numbers.count(*number)) || (source && numbers.count(*source)))
      points.push_back(unescapeMountField(columns[4]));
  }
  // Deeper mounts first, so that none is busy with one mounted inside it.
  std::sort(points.begin(), points.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& point : points)
    if (umount2(point.c_str(), UMOUNT_NOFOLLOW) != 0)
      throw Failure("Unmount of " + disk + " failed: at least one volume could not be unmounted");
  return "Unmount of all volumes on " + disk + " was successful\n";
}
