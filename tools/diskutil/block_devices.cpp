#include "block_devices.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/linux/sysfs.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::vector<std::string> BlockDevices::entriesOf(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get()))
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::optional<uint64_t> number(const std::optional<std::string>& text) {
  uint64_t value = 0;
  if (!text || text->empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

std::string realPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string trimmed(const std::string& text) {
  if (text.rfind("0x", 0) == 0) return "";  // a bus's vendor number, no name
  const auto first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

std::string joined(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  const std::string left = trimmed(a.value_or("")), right = trimmed(b.value_or(""));
  std::string both = left;
  if (!left.empty() && !right.empty()) both += ' ';
  both += right;
  return both;
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::optional<BlockDevices::Device> BlockDevices::byKernelName(const std::string& name) const {
  if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') return std::nullopt;
  const std::string dir = realPath(classDir(name));
  if (dir.empty()) return std::nullopt;
  const auto partition = number(Sysfs::attribute(dir + "/partition"));
  if (!partition) return Device{name, name, 0};
  // A partition lies in its disk's directory.
  const std::string parent = dir.substr(0, dir.rfind('/'));
  return Device{name, baseName(parent), static_cast<unsigned>(*partition)};
}

std::optional<BlockDevices::Device> BlockDevices::byNumber(dev_t device) const {
  const std::string link = sys_ + "/dev/block/" + std::to_string(major(device)) + ":" +
                           std::to_string(minor(device));
  const std::string dir = realPath(link);
  if (dir.empty()) return std::nullopt;
  auto found = byKernelName(baseName(dir));
  if (!found || numberOf(found->kernelName) != device) return std::nullopt;
  return found;
}

std::optional<BlockDevices::Device> BlockDevices::byName(const std::string& name) const {
  const std::size_t split = name.find_first_of("sS", 4);
  const auto sequence = Sysfs::sequenceOfName(name.substr(0, split));
  if (!sequence) return std::nullopt;
  const auto disk = Sysfs::wholeDiskBySequence(sys_, *sequence);
  if (!disk) return std::nullopt;
  if (split == std::string::npos) return Device{disk->kernelName, disk->kernelName, 0};
  const auto wanted = number(name.substr(split + 1));
  if (!wanted || *wanted > UINT_MAX || name.substr(split + 1).size() > 10) return std::nullopt;
  if (*wanted == 0) return Device{disk->kernelName, disk->kernelName, 0};
  for (const std::string& partition : partitionsOf(disk->kernelName)) {
    auto found = byKernelName(partition);
    if (found && found->partition == *wanted) return found;
  }
  return std::nullopt;
}

std::optional<std::string> BlockDevices::nameOf(const Device& device) const {
  const auto sequence = sequenceOf(device.wholeDisk);
  if (!sequence) return std::nullopt;
  std::string name = "disk" + std::to_string(*sequence);
  if (device.partition != 0) {
    name += 's';
    name += std::to_string(device.partition);
  }
  return name;
}

std::vector<std::string> BlockDevices::wholeDisks() const {
  std::vector<std::string> disks;
  for (const std::string& name : entriesOf(sys_ + "/class/block")) {
    const auto device = byKernelName(name);
    if (device && device->partition == 0) disks.push_back(name);
  }
  return disks;
}

std::vector<std::string> BlockDevices::partitionsOf(const std::string& disk) const {
  std::vector<std::string> partitions;
  for (const std::string& name : entriesOf(classDir(disk))) {
    struct stat status{};
    if (stat((classDir(disk) + "/" + name + "/partition").c_str(), &status) == 0)
      partitions.push_back(name);
  }
  return partitions;
}

std::vector<std::string> BlockDevices::slavesOf(const std::string& name) const {
  return entriesOf(classDir(name) + "/slaves");
}

std::vector<std::string> BlockDevices::holdersOf(const std::string& name) const {
  return entriesOf(classDir(name) + "/holders");
}

std::optional<std::string> BlockDevices::backingFileOf(const std::string& disk) const {
  auto file = Sysfs::attribute(classDir(disk) + "/loop/backing_file");
  if (!file || file->empty()) return std::nullopt;
  return file;
}

std::optional<dev_t> BlockDevices::numberOf(const std::string& name) const {
  const auto text = Sysfs::attribute(classDir(name) + "/dev");
  return text ? Sysfs::parseDevice(*text) : std::nullopt;
}

std::optional<uint64_t> BlockDevices::sequenceOf(const std::string& disk) const {
  const auto sequence = number(Sysfs::attribute(classDir(disk) + "/diskseq"));
  if (!sequence || *sequence == 0) return std::nullopt;
  return sequence;
}

BlockDevices::Facts BlockDevices::factsOf(const std::string& disk) const {
  Facts facts;
  const std::string dir = classDir(disk);
  // Loop, zram, dm, md, nbd and ram disks have no device of their own, or one
  // under devices/virtual.
  const std::string device = realPath(dir + "/device");
  const std::string virtualRoot = realPath(sys_ + "/devices/virtual");
  const bool hidden = Sysfs::attribute(dir + "/hidden").value_or("0") != "0";
  facts.physical = !device.empty() && !hidden &&
                   (virtualRoot.empty() || device.rfind(virtualRoot + "/", 0) != 0);
  facts.writable = Sysfs::attribute(dir + "/ro").value_or("1") == "0";
  facts.bytes = number(Sysfs::attribute(dir + "/size")).value_or(0) * 512;
  if (!facts.physical) {
    facts.bus = "Virtual";
    return facts;
  }
  // The bus is the first subsystem above the disk that tells it; the
  // removable flag says nothing reliable and is never read.
  const std::string devicesRoot = realPath(sys_ + "/devices");
  std::string usbDevice;
  std::string kind;
  bool usb = false;
  for (std::string at = device; at.size() > devicesRoot.size(); at = at.substr(0, at.rfind('/'))) {
    const std::string subsystem = baseName(realPath(at + "/subsystem"));
    if (subsystem == "usb") {
      usb = true;
      if (usbDevice.empty() && Sysfs::attribute(at + "/product")) usbDevice = at;
    } else if (kind.empty() && (subsystem == "nvme" || subsystem == "mmc")) {
      kind = subsystem;
    } else if (kind.empty() && baseName(at).rfind("ata", 0) == 0) {
      kind = "ata";
    }
  }
  const std::string cardType = Sysfs::attribute(device + "/type").value_or("");
  if (usb) facts.bus = "USB";
  else if (kind == "mmc") facts.bus = (cardType == "SD" || cardType == "SDcombo") ? "SD" : "MMC";
  else if (kind == "nvme") facts.bus = "NVMe";
  else if (kind == "ata") facts.bus = "SATA";
  else facts.bus = "SCSI";
  facts.external = facts.bus == "USB" || facts.bus == "SD";

  facts.mediaName = joined(Sysfs::attribute(device + "/vendor"), Sysfs::attribute(device + "/model"));
  if (facts.mediaName.empty()) facts.mediaName = trimmed(Sysfs::attribute(device + "/name").value_or(""));
  if (facts.mediaName.empty() && !usbDevice.empty())
    facts.mediaName = joined(Sysfs::attribute(usbDevice + "/manufacturer"),
                             Sysfs::attribute(usbDevice + "/product"));
  return facts;
}
