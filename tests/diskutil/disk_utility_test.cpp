// The disk utility on a fixture sysfs shaped like real machines, judged the
// way the writer judges it: which disks are offered, and which disks a
// protected path lies on.

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <map>

#include "disk_utility.h"
#include "disks/candidate.h"
#include "disks/command.h"
#include "disks/protected_disks.h"
#include "helpers/outcome.h"
#include "helpers/temp_dir.h"

namespace {

// Every kind of disk below, built with the sandbox's own sysfs functions.
constexpr char kMachine[] = R"sh(
ata_disk sda 8:0 1000215216 1 "Samsung SSD 870 "
partition "$disk" sda1 1 8:1
partition "$disk" sda2 2 8:2
usb_disk 1 sdz 8:64 262144 275 "SanDisk " "Cruzer Blade    "   # usb-storage
partition "$disk" sdz1 1 8:65
usb_disk 2 sdv 65:16 976773168 276 "Samsung " "PSSD T7         "  # a UAS SSD
usb_disk 3 sdy 8:16 0 277 "Generic-" "SD/MMC          "        # an empty card reader
usb_disk 4 sdx 8:32 30720000 278 Kingston "DataTraveler    " ro=1
usb_disk 5 sdu 65:0 2097152 279 "Vendor  " "Hidden          " hidden=1
usb_disk 6 sdt 65:32 2097152 280 "Vendor  " "Swap            "
partition "$disk" sdt1 1 65:33
usb_disk 7 sdw 65:48 2097152 281 "WD      " "Elements        "
usb_disk 8 sdb 8:80 2097152 282 "WD      " "Passport        "
partition "$disk" sdb1 1 8:81
usb_disk 9 sdc 8:96 2097152 283 "WD      " "Passport        "
usb_disk 10 sds 65:64 2097152 289 "        " ""
virtual=$fake/devices/virtual
disk "$virtual" dm-0 253:0 2097152 284
holds dm-0 sdw
disk "$virtual" dm-1 253:1 2097152 285
holds dm-1 sda2
holds dm-1 sdc
nvme=$fake/devices/pci0000:00/0000:00:1d.0
device "$nvme" pci
attributes "$nvme" removable=removable
device "$nvme/nvme/nvme0" nvme
attributes "$nvme/nvme/nvme0" "model=WD Black SN770"
disk "$nvme/nvme/nvme0" nvme0n1 259:0 1953525168 2
mmc=$fake/devices/pci0000:00/0000:00:14.5
device "$mmc" pci
device "$mmc/mmc0/mmc0:aaaa" mmc
attributes "$mmc/mmc0/mmc0:aaaa" type=SD name=SC32G
disk "$mmc/mmc0/mmc0:aaaa" mmcblk0 179:0 62333952 286
device "$mmc/mmc1/mmc1:aaaa" mmc
attributes "$mmc/mmc1/mmc1:aaaa" type=MMC name=AJTD4R
disk "$mmc/mmc1/mmc1:aaaa" mmcblk1 179:8 61071360 3
disk "$virtual" loop0 7:0 2097152 287
attributes "$disk/loop" backing_file=/media/stick/os.img
disk "$virtual" zram0 252:0 2097152 288
mkdir -p "$fake/fs/btrfs/5a7e/devices"
ln -s "$(seen "$(dir_of sdb1)")" "$fake/fs/btrfs/5a7e/devices/sdb1"
ln -s "$(seen "$(dir_of sda1)")" "$fake/fs/btrfs/5a7e/devices/sda1"
)sh";

// One machine, its mounts and swap.
struct Machine {
  TempDir dir;
  KernelView view;

  Machine() {
    Command::run("/bin/bash",
                 {"-c", std::string(". \"$1\"; fake=$2 seen=$2; skeleton") + kMachine,
                  "bash", FAKE_SYSFS, dir.path()},
                 60.0, 1 << 20);
    view.sys = dir.path();
    view.mountInfo =
        "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "2 1 0:30 / /tmp rw - tmpfs tmpfs rw\n"
        "3 1 253:1 / /srv rw - ext4 /dev/mapper/pool rw\n"
        "4 1 0:40 / /data rw - btrfs /dev/sdb1 rw\n"
        "5 1 0:41 / /merged rw - overlay overlay rw,lowerdir=/srv/low:/usr,upperdir=/data/up\n"
        "6 1 8:65 / /media/stick rw - vfat /dev/sdz1 rw\n"
        "7 1 7:0 / /media/os rw - ext4 /dev/loop0 ro\n"
        "8 1 0:55 / /media/net rw - fuse.sshfs host:/ rw\n";
    view.swaps = "Filename\tType\tSize\tUsed\tPriority\n/dev/sdt1 partition 1048572 0 -2\n";
    view.mountIdOf = [](const std::string& path) -> std::optional<uint64_t> {
      const std::pair<const char*, uint64_t> mounts[] = {
          {"/tmp", 2}, {"/srv", 3}, {"/data", 4}, {"/merged", 5}, {"/media/stick", 6},
          {"/media/os", 7}, {"/media/net", 8}};
      for (const auto& [point, id] : mounts)
        if (path.rfind(point, 0) == 0) return id;
      return 1;
    };
    view.nodeDevice = [](const std::string& path) -> std::optional<dev_t> {
      const std::map<std::string, dev_t> nodes = {{"/dev/sdb1", makedev(8, 81)},
                                                 {"/dev/sdt1", makedev(65, 33)},
                                                 {"/dev/sdz", makedev(8, 64)}};
      if (!nodes.contains(path)) return std::nullopt;
      return nodes.at(path);
    };
  }
};

std::vector<std::string> wholeDisks(const DiskUtility& utility) {
  const DiskInfo listing = DiskInfo::parse(utility.listExternalPhysical());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < listing["WholeDisks"].size(); ++i)
    names.push_back(*listing["WholeDisks"].at(i).string());
  return names;
}

}  // namespace

TEST(DiskUtility, OffersUsbAndSdDisksOnlyNeverByTheRemovableFlag) {
  const Machine machine;
  const DiskUtility utility(machine.view);
  std::map<std::string, std::string> verdicts;
  for (const std::string& name : wholeDisks(utility)) {
    const auto target = DiskInventory::candidate(DiskInfo::parse(utility.info(name)), {"disk1"},
                                                 std::stoull(name.substr(4)));
    verdicts[name] = target ? target->bus + " " + target->name + " " +
                                  std::to_string(target->capacity)
                            : "refused";
  }
  const std::map<std::string, std::string> expected{
      {"disk275", "USB SanDisk Cruzer Blade 134217728"},   // usb-storage, removable 0
      {"disk276", "USB Samsung PSSD T7 500107862016"},     // UAS SSD, removable 0
      {"disk277", "refused"},                              // empty card reader: size 0
      {"disk278", "refused"},                              // write-protected
      {"disk282", "USB WD Passport 1073741824"},
      {"disk286", "SD SC32G 31914983424"},
      {"disk289", "USB Sandbox Stick 1073741824"},        // named by the USB device
  };
  // Not listed: SATA, NVMe, eMMC (internal); hidden; loop, zram, dm
  // (virtual); a disk that dm holds (sdw, sdc); active swap on a partition.
  EXPECT_EQ(verdicts, expected);
}

TEST(DiskUtility, WalksProtectedPathsDownToPhysicalDisks) {
  Machine machine;
  const DiskUtility utility(machine.view);
  const DiskLookup lookup = [&](const std::string& what) { return DiskInfo::parse(utility.info(what)); };
  const auto disksOf = [&](const std::string& path) {
    return outcomeOf([&] {
      std::string out;
      for (const std::string& disk : DiskInventory::physicalStores(lookup(path), lookup))
        out += (out.empty() ? "" : " ") + disk;
      return out;
    }, "error: ");
  };
  const struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"/home/alice", "disk1"},                    // root on a partition
      {"/tmp/x", "disk1"},                         // memory: the root file system's disk
      {"/srv/www", "disk1 disk283"},               // dm over a partition and a whole disk
      {"/data/x", "disk1 disk282"},                // btrfs over two partitions
      {"/merged/etc", "disk1 disk282 disk283"},    // overlay: its layers' disks
      {"/media/stick/os.img", "disk275"},          // the image on the stick itself
      {"/media/os/etc", "disk275"},                // a loop device's backing file
      {"/dev/sdz", "disk275"},
      {"/media/net/x", "error: Could not find disk: /media/net/x (no disk holds /media/net)"},
  };
  for (const auto& c : cases) EXPECT_EQ(disksOf(c.path), c.expected) << c.path;
}
