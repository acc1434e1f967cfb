#include "drive_check.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "disks/candidate.h"
#include "disks/protected_disks.h"
#include "drive_name.h"
#include "platform/platform.h"
#include "plain_text.h"
#include "refusal.h"
#include "sizes.h"
#include "support/user_account.h"

namespace {

constexpr const char* kSeeList = " Run `imager list` to see the drives that may be written.";

[[noreturn]] void refuse(const std::string& what) { throw Refusal(ExitCode::badDrive, what); }

bool protects(const std::vector<std::string>& paths, const std::string& disk) {
  try {
    return DiskInventory::protectedDisks(paths).count(disk) > 0;
  } catch (const std::exception&) {
    return false;
  }
}

// Why `disk`, which exists or not, is not among the drives to write.
[[noreturn]] void explain(const std::string& disk, const ImageFacts& image) {
  std::optional<DiskInfo> info;
  try {
    info = DiskInventory::info(disk);
  } catch (const std::exception&) {
    refuse("There is no drive " + disk + "." + kSeeList);
  }
  const auto home = homeDirectoryOf(geteuid());
  if (info->boolean("Internal") == true)
    refuse(disk + " is an internal disk, which is never written." + kSeeList);
  std::vector<std::string> system = Platform::protectedSystemPaths();
  system.push_back(home.value_or("/"));
  if (protects(system, disk))
    refuse(disk + " holds the system or your home folder, which are never written." + kSeeList);
  if (protects({image.path}, disk))
    refuse(
        disk +
        " holds the image itself: copy the image to another disk first, or choose another drive.");
  if (info->string("VirtualOrPhysical") != "Physical")
    refuse(disk + " is a virtual disk, not a drive." + kSeeList);
  if (info->boolean("Writable") != true)
    refuse(disk + " is write-protected: slide its lock switch off, reconnect it and try again.");
  const std::string bus = plainText(info->string("BusProtocol").value_or("an unknown bus"));
  if (std::none_of(std::begin(DiskInventory::kAcceptedBuses),
                   std::end(DiskInventory::kAcceptedBuses),
                   [&](const char* accepted) { return bus == accepted; }))
    refuse(disk + " is attached by " + bus + "; the writer writes only USB drives and SD cards.");
  refuse(disk + " is not a drive the writer may write." + kSeeList);
}

}  // namespace

std::vector<TargetDisk> checkDrives(const std::vector<std::string>& typed,
                                    const ImageFacts& image) {
  const std::vector<TargetDisk> writable = DiskInventory::list({image.path});
  std::vector<TargetDisk> chosen;
  std::set<std::string> seen;
  for (const std::string& name : typed) {
    DriveName drive = parseDriveName(name);
    if (drive.disk.empty()) {
      drive = driveOfNode(name);
      const std::string node = name.starts_with("/") ? name : "/dev/" + name;
      if (!drive.disk.empty() && !drive.partition)
        std::fprintf(stderr, "%s is %s.\n", plainText(node).c_str(), drive.disk.c_str());
    }
    if (drive.disk.empty())
      refuse(plainText(name) +
             " is not a drive's name: name it as `imager list` shows it, e.g. disk4.");
    if (drive.partition)
      refuse(plainText(name) + " is a partition of " + drive.disk + ": name the whole drive, " +
             drive.disk + ".");
    if (!seen.insert(drive.disk).second)
      throw Refusal(ExitCode::usage,
                    drive.disk + " is named more than once: name each drive once.");
    const auto found = std::find_if(writable.begin(), writable.end(),
                                    [&](const TargetDisk& disk) { return disk.bsd == drive.disk; });
    if (found == writable.end()) explain(drive.disk, image);
    if (image.packing.empty() && static_cast<uint64_t>(image.bytes) > found->capacity)
      refuse("The image (" + sizeText(image.bytes) + ") is larger than " + drive.disk + " (" +
             sizeText(static_cast<int64_t>(found->capacity)) + "): choose a larger drive.");
    chosen.push_back(*found);
  }
  return chosen;
}
