#include "backing_disks.h"

#include <algorithm>
#include <string_view>

#include "platform/linux/mountinfo.h"
#include "platform/linux/sysfs.h"

namespace {

// Loops of loop devices and overlays stacked on overlays end here.
constexpr int kDeepest = 16;

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  while (true) {
    const std::size_t end = text.find(separator);
    parts.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return parts;
    text.remove_prefix(end + 1);
  }
}

// The value of `key=` among comma-separated mount options.
std::string option(const std::string& options, const std::string& key) {
  for (const std::string& item : split(options, ','))
    if (item.rfind(key + "=", 0) == 0) return item.substr(key.size() + 1);
  return "";
}

void add(std::set<Store>& to, std::set<Store> from) { to.merge(from); }

}  // namespace

BackingDisks::Mount BackingDisks::mountHolding(const std::string& path) const {
  const auto id = kernel_.mountIdOf(path);
  if (!id) throw Unresolved("cannot find the mount of " + path);
  const std::string wanted = std::to_string(*id);
  for (const std::string& line : split(kernel_.mountInfo, '\n')) {
    const std::vector<std::string> fields = split(line, ' ');
    if (fields.size() < 10 || fields[0] != wanted) continue;
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 3 >= fields.size()) break;
    return {unescapeMountField(fields[4]), fields[2], fields[dash + 1],
            unescapeMountField(fields[dash + 2]), unescapeMountField(fields[dash + 3])};
  }
  throw Unresolved("no mount " + wanted + " holds " + path);
}

std::set<Store> BackingDisks::ofPath(const std::string& path, int depth) const {
  if (depth > kDeepest) throw Unresolved("volumes nested too deep at " + path);
  return ofMount(mountHolding(path), depth + 1);
}

std::set<Store> BackingDisks::ofMount(const Mount& mount, int depth) const {
  const auto number = Sysfs::parseDevice(mount.device);
  if (number) {
    if (const auto device = devices_.byNumber(*number)) return ofDevice(device->kernelName, depth);
  }
  if (mount.type == "btrfs") return btrfsMembers(mount.source, depth);
  if (mount.type == "overlay") {
    std::set<Store> stores;
    std::vector<std::string> layers = split(option(mount.options, "lowerdir"), ':');
    layers.push_back(option(mount.options, "upperdir"));
    for (const std::string& layer : layers)
      if (!layer.empty()) add(stores, ofPath(layer, depth + 1));
    if (stores.empty()) throw Unresolved("an overlay without layers at " + mount.point);
    return stores;
  }
  if ((mount.type == "tmpfs" || mount.type == "ramfs") && mount.point != "/")
    return ofPath("/", depth + 1);
  throw Unresolved("no disk holds " + mount.point);
}

std::set<Store> BackingDisks::btrfsMembers(const std::string& source, int depth) const {
  const auto number = kernel_.nodeDevice(source);
  const auto device = number ? devices_.byNumber(*number) : std::nullopt;
  if (!device) throw Unresolved("cannot find the device " + source);
  // Each btrfs file system lists its member devices by kernel name.
  const std::string root = devices_.root() + "/fs/btrfs/";
  for (const std::string& fsid : BlockDevices::entriesOf(root)) {
    const std::vector<std::string> members = BlockDevices::entriesOf(root + fsid + "/devices");
    if (std::find(members.begin(), members.end(), device->kernelName) == members.end()) continue;
    std::set<Store> stores;
    for (const std::string& member : members) add(stores, ofDevice(member, depth + 1));
    return stores;
  }
  throw Unresolved("no btrfs file system has the device " + source);
}

std::set<Store> BackingDisks::ofDevice(const std::string& name, int depth) const {
  if (depth > kDeepest) throw Unresolved("devices nested too deep at " + name);
  const auto device = devices_.byKernelName(name);
  if (!device) throw Unresolved("no block device " + name);
  const std::vector<std::string> slaves = devices_.slavesOf(name);
  if (!slaves.empty()) {
    std::set<Store> stores;
    for (const std::string& slave : slaves) add(stores, ofDevice(slave, depth + 1));
    return stores;
  }
  if (device->partition != 0) {
    std::set<Store> stores = ofDevice(device->wholeDisk, depth + 1);
    // A partition of a disk that holds nothing else is that disk's store.
    if (stores == std::set<Store>{{device->wholeDisk, ""}}) return {{device->wholeDisk, name}};
    return stores;
  }
  if (const auto file = devices_.backingFileOf(name)) return ofPath(*file, depth + 1);
  return {{name, ""}};
}
